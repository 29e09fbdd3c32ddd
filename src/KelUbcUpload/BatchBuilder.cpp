#include "BatchBuilder.h"

#include "LogFollower.h"
#include "RowWriter.h"

#include <cstring>

BatchBuilder::BatchBuilder(const LogFollower &log, RowWriter &writer) : m_log(log), m_writer(writer)
{
}

void BatchBuilder::restart(qint64 offset)
{
    m_readOffset = offset;
    m_refused.clear();
    m_refusedCount = 0;
}

qint64 BatchBuilder::unread() const
{
    return m_log.completeEnd() - m_readOffset;
}

bool BatchBuilder::build(UploadBatch &batch, int maxBytes)
{
    batch = UploadBatch();
    const qint64 available = unread();
    if (available <= 0)
        return false;
    qint64 want = qMin<qint64>(available, qMax(maxBytes, 1));
    QByteArray raw;
    int lastNewline = -1;
    for (;;) {
        raw.resize(int(want) + RowWriter::Padding);
        if (m_log.read(raw.data(), want, m_readOffset) != want)
            return false;
        std::memset(raw.data() + want, ' ', RowWriter::Padding);
        for (int i = int(want) - 1; i >= 0; --i) {
            if (raw.at(i) == '\n') {
                lastNewline = i;
                break;
            }
        }
        if (lastNewline >= 0 || want == available)
            break;
        want = qMin(available, want * 2); // one line longer than a batch
    }
    if (lastNewline < 0)
        return false;
    batch.fileStart = m_readOffset;
    batch.fileEnd = m_readOffset + lastNewline + 1;
    batch.rows.reserve(lastNewline + lastNewline / 4 + 64);
    const char *data = raw.constData();
    int start = 0;
    while (start <= lastNewline) {
        const int end = int(static_cast<const char *>(std::memchr(data + start, '\n', size_t(lastNewline + 1 - start))) - data);
        ++batch.lines;
        if (end > start) {
            if (m_writer.append(data + start, end - start, batch.rows)) {
                batch.rowEnd.append(batch.rows.size());
                batch.rowFileStart.append(batch.fileStart + start);
                batch.rowFileEnd.append(batch.fileStart + end + 1);
                batch.rowLines.append(batch.lines);
            } else {
                m_refused.append(data + start, end + 1 - start);
                ++m_refusedCount;
            }
        }
        start = end + 1;
    }
    m_readOffset = batch.fileEnd;
    return true;
}

QByteArray BatchBuilder::takeRefused(int *count)
{
    *count = m_refusedCount;
    m_refusedCount = 0;
    QByteArray lines;
    lines.swap(m_refused);
    return lines;
}

#include "UploadLosses.h"

#include "UploadLogging.h"

#include <LogSink.h>

#include <QtCore/QDateTime>
#include <QtCore/QList>
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>

namespace {

const char *const kKinds[UploadLosses::KindCount] = {"queue_dropped", "set_aside", "rotated_unsent"};

int kindOf(const QByteArray &name)
{
    for (int k = 0; k < UploadLosses::KindCount; ++k) {
        if (name == kKinds[k])
            return k;
    }
    return -1;
}

} // namespace

UploadLosses::UploadLosses(const QString &path) : m_path(path)
{
    load();
}

// Lines "count KIND N" and "report LOSSID SECONDS KIND N [GID]"; whatever
// else the file holds is skipped.
void UploadLosses::load()
{
    QByteArray text;
    QString why;
    if (!LogSink::readOwnFile(m_path, 1 << 16, &text, &why)) {
        if (!why.isEmpty())
            qCWarning(lcUpload, "cannot read %s (%s); the losses counted there are not reported", qPrintable(m_path),
                      qPrintable(why));
        return;
    }
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        bool ok[4] = {false, false, false, false};
        if (f.size() == 3 && f[0] == "count" && kindOf(f[1]) >= 0) {
            const quint64 n = f[2].toULongLong(ok);
            if (ok[0])
                m_counts[kindOf(f[1])] += n;
        } else if ((f.size() == 5 || f.size() == 6) && f[0] == "report" && kindOf(f[3]) >= 0) {
            const Row row{f[1].toULongLong(&ok[0]), f[2].toLongLong(&ok[1]), kindOf(f[3]), f[4].toULongLong(&ok[2]),
                          f.size() == 6 ? QString::fromLatin1(f[5]) : QString()};
            if (ok[0] && ok[1] && ok[2])
                m_report.append(row);
        }
    }
}

void UploadLosses::save()
{
    QByteArray text;
    for (int k = 0; k < KindCount; ++k) {
        if (m_counts[k])
            text += "count " + QByteArray(kKinds[k]) + ' ' + QByteArray::number(m_counts[k]) + '\n';
    }
    for (const Row &row : m_report)
        text += "report " + QByteArray::number(row.lossid) + ' ' + QByteArray::number(row.reported) + ' '
                + kKinds[row.kind] + ' ' + QByteArray::number(row.records) + ' ' + row.gid.toLatin1() + '\n';
    QString why;
    const bool saved = LogSink::replaceOwnFile(m_path, text, &why);
    if (!saved && !m_saveFailing)
        qCWarning(lcUpload, "cannot save %s (%s); losses counted since are forgotten at exit", qPrintable(m_path),
                  qPrintable(why));
    m_saveFailing = !saved;
}

void UploadLosses::add(Kind kind, quint64 records)
{
    if (records == 0)
        return;
    m_counts[kind] += records;
    save();
}

bool UploadLosses::isEmpty() const
{
    for (quint64 count : m_counts) {
        if (count)
            return false;
    }
    return m_report.isEmpty();
}

QByteArray UploadLosses::reportRows(const QString &gid)
{
    if (m_report.isEmpty()) {
        // A gid is hex; anything else would break the file's fields.
        const QString safe = gid.contains(QRegularExpression(QStringLiteral("[^0-9a-fA-F]"))) ? QString() : gid;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int k = 0; k < KindCount; ++k) {
            if (m_counts[k])
                m_report.append({QRandomGenerator::global()->generate64(), now, k, m_counts[k], safe});
            m_counts[k] = 0;
        }
        save();
    }
    QByteArray rows;
    for (const Row &row : m_report) {
        // DateTime as ClickHouse reads it, in UTC like the records' time.
        const QByteArray reported =
                QDateTime::fromSecsSinceEpoch(row.reported, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
        rows += "{\"gid\":\"" + row.gid.toLatin1() + "\",\"lossid\":" + QByteArray::number(row.lossid)
                + ",\"reported\":\"" + reported + "\",\"kind\":\"" + kKinds[row.kind]
                + "\",\"records\":" + QByteArray::number(row.records) + "}\n";
    }
    return rows;
}

void UploadLosses::reported()
{
    m_report.clear();
    save();
}

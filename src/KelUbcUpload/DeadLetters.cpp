#include "DeadLetters.h"

#include "UploadLogging.h"
#include "UploadSettings.h"

DeadLetters::DeadLetters(const QString &path, UploadStatus *status) : m_sink(path, 0), m_status(status)
{
}

void DeadLetters::add(const QByteArray &lines, int count, const QString &why)
{
    if (count == 0)
        return;
    SinkNotes notes; // the sink's own texts speak of records waiting; none wait here
    const bool written = m_sink.append(lines.constData(), lines.size(), false, LogSink::nowMs(), notes)
                         && m_sink.sync();
    m_status->rejected.fetchAndAddRelaxed(quint64(count));
    if (written)
        qCWarning(lcUpload, "set %d line(s) aside in %s (%s)", count, qPrintable(m_sink.path()), qPrintable(why));
    else
        qCWarning(lcUpload, "set %d line(s) aside (%s), but %s cannot be written (%s): they stay only in the log",
                  count, qPrintable(why), qPrintable(m_sink.path()), qPrintable(m_sink.failure()));
}

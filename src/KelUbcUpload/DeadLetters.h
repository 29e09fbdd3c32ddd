#ifndef DEADLETTERS_H
#define DEADLETTERS_H

#include <LogSink.h>

struct UploadStatus;

// The dead-letter file beside the log (log path + ".rejected"): lines the
// upload sets aside, as they were written, under the log's own file rules
// (no symbolic link followed, this user's regular file only, 0600).
class DeadLetters
{
public:
    DeadLetters(const QString &path, UploadStatus *status);

    // Appends count lines (each with its newline) in one write, synced,
    // with one warning. The lines stay in the log whatever happens here.
    void add(const QByteArray &lines, int count, const QString &why);

private:
    LogSink m_sink;
    UploadStatus *m_status;
};

#endif // DEADLETTERS_H

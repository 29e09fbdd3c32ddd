#ifndef BATCHBUILDER_H
#define BATCHBUILDER_H

#include "UploadBatch.h"

class LogFollower;
class RowWriter;

// Reads the log's complete lines in order and turns them into batches of
// rows with the writer. Lines it refuses are kept aside for the dead-letter
// file, all of a batch together.
class BatchBuilder
{
public:
    BatchBuilder(const LogFollower &log, RowWriter &writer);

    // Where the next batch starts; moved back when reading starts over.
    qint64 readOffset() const { return m_readOffset; }
    void restart(qint64 offset);
    // Bytes of complete lines not in a batch yet.
    qint64 unread() const;

    // The complete lines from the read offset, about maxBytes of them (at
    // least one line). False when none waits or the file cannot be read.
    bool build(UploadBatch &batch, int maxBytes);
    // The lines refused since the last call, as written, and their count.
    QByteArray takeRefused(int *count);

private:
    const LogFollower &m_log;
    RowWriter &m_writer;
    qint64 m_readOffset = 0;
    QByteArray m_refused;
    int m_refusedCount = 0;
};

#endif // BATCHBUILDER_H

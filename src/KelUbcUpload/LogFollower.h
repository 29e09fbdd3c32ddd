#ifndef LOGFOLLOWER_H
#define LOGFOLLOWER_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <platform/PlatformFile.h>

// Follows the behaviour log for the upload: the open file, its complete
// lines, the cursor (how far the store has it, see LogCursor), and the path
// naming another file (rotation) or the file being cut short or rewritten
// in place (copytruncate). The log's numbered files (RotatedLogs) are read
// first, oldest first, each removed once it is done.
class LogFollower
{
public:
    explicit LogFollower(const QString &path);
    ~LogFollower();

    // Opens the log if needed and counts the complete lines added since the
    // last scan. True when reading starts over at the cursor: the file was
    // just opened, or it was cut short or rewritten in place and is read
    // again from its start.
    bool scan();
    // Lets the file go; the next scan opens what the path names then.
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    // The open file is one of the numbered files, not the log's path.
    bool isRotatedFile() const { return m_rotated; }
    QString filePath() const { return m_openPath; }
    FileId fileId() const { return m_id; }
    // Whether path names the open file.
    bool isOpenFile(const QString &path) const;
    // Done with the open numbered file: it is let go, and removed by
    // removeDone() once it has not grown for a while.
    void finishFile();
    // Removes the finished numbered files that have not grown for msecs
    // (a writer that has not yet noticed a rotation appends to the renamed
    // file for a moment). One that grew is read again after the newer ones.
    void removeDone(qint64 msecs);
    // Finished and waiting to be removed.
    bool isFinished(const FileId &id) const;

    bool isReplaced() const { return m_replaced; }
    qint64 confirmed() const { return m_confirmed; }
    qint64 completeEnd() const { return m_completeEnd; }
    // Complete lines not yet confirmed or set aside.
    quint64 waitingLines() const { return m_scannedLines - qMin(m_doneLines, m_scannedLines); }

    // Bytes of the open file from offset; how many could be read.
    qint64 read(char *buffer, qint64 size, qint64 offset) const;
    QByteArray read(qint64 start, qint64 end) const;
    // Lines before offset are done (delivered or set aside): the cursor
    // moves there and is saved.
    void advance(qint64 offset, int lines);

private:
    void open();
    void startOver(qint64 offset);
    quint32 prefixChecksum(qint64 length) const;
    bool prefixChanged() const;
    void extendPrefix();
    void saveCursor();

    const QString m_path;
    const QString m_cursorPath;
    QString m_openPath;
    mutable PlatformFile m_file; // reading at an offset moves nothing
    FileId m_id;
    struct Finished
    {
        FileId id;
        QString path;
        qint64 size;
        qint64 grewAtMs;
    };
    QVector<Finished> m_finished;
    QVector<FileId> m_passedOver; // could not be removed
    qint64 m_confirmed = 0;     // the cursor
    qint64 m_scanOffset = 0;    // end of what was counted
    qint64 m_completeEnd = 0;   // after the last newline counted
    qint64 m_prefixLength = 0;  // bytes that prefixSum covers
    quint32 m_prefixSum = 0;
    quint64 m_scannedLines = 0; // lines counted past the cursor at open
    quint64 m_doneLines = 0;    // of those, confirmed or set aside
    qint64 m_lastSize = -1;
    qint64 m_grewAtMs = 0;
    bool m_rotated = false;
    bool m_movedOn = false; // from a numbered file to this one
    bool m_replaced = false;
    bool m_cursorFailing = false;
};

#endif // LOGFOLLOWER_H

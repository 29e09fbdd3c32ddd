#ifndef UPLOADWORKER_H
#define UPLOADWORKER_H

#include "RecordRowWriter.h"
#include "UploadSettings.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QVector>

#include <sys/types.h>

class QNetworkAccessManager;
class QNetworkReply;
class QSemaphore;
class QTimer;

// Lives in the uploader's thread: follows the log, builds batches, sends
// them and moves the cursor after each confirmation.
class UploadWorker : public QObject
{
    Q_OBJECT
public:
    UploadWorker(const UploadSettings &settings, UploadStatus *status);
    ~UploadWorker() override;

    // Queued from the host's thread.
    Q_INVOKABLE void begin();
    Q_INVOKABLE void poll();
    // Sends everything now, once, then releases done.
    Q_INVOKABLE void finishUp(QSemaphore *done);

Q_SIGNALS:
    void statusChanged();

private:
    // Lines [first, end) of the log turned into rows.
    struct Batch
    {
        qint64 fileStart = 0, fileEnd = 0;
        int lines = 0;               // raw lines, empty and refused ones included
        QByteArray rows;
        QVector<int> rowEnd;         // end of row k in rows
        QVector<qint64> rowFileEnd;  // log offset after row k's line
        QVector<int> rowLines;       // raw lines up to and including row k
        QVector<qint64> rowFileStart; // log offset of row k's line
        bool isEmpty() const { return lines == 0; }
        int rowCount() const { return rowEnd.size(); }
    };
    struct Range { int first, end; };

    bool allowed() const;
    void openLog();
    void closeLog();
    void scan();
    bool buildBatch(Batch &batch);
    void sendNext();
    void send();
    void replyFinished();
    void commit(qint64 fileEnd, int lines, int rows);
    void setAside(qint64 start, qint64 end, const QString &why);
    void resetFile();
    bool saveCursor(qint64 offset);
    quint32 prefixChecksum(qint64 offset) const;
    void failed(const QString &error);
    void updateWaiting();
    void checkFinished();

    UploadSettings m_settings;
    UploadStatus *m_status;
    QNetworkAccessManager *m_net = nullptr;
    QTimer *m_pollTimer = nullptr;
    QTimer *m_retryTimer = nullptr;
    RecordRowWriter m_writer;

    int m_fd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    qint64 m_confirmed = 0;     // the cursor
    qint64 m_readOffset = 0;    // end of what is in batches
    qint64 m_scanOffset = 0;    // end of what was counted
    qint64 m_completeEnd = 0;   // after the last newline counted
    quint64 m_scannedLines = 0; // lines counted past the cursor at open
    quint64 m_doneLines = 0;    // of those, confirmed or set aside
    bool m_replaced = false;    // the path names another file now

    Batch m_current, m_next;
    QVector<Range> m_ranges;    // parts of m_current still to confirm, in order
    int m_currentDoneLines = 0; // lines of m_current already past the cursor
    QNetworkReply *m_reply = nullptr;
    int m_failures = 0;
    QElapsedTimer m_unsentSince;
    QSemaphore *m_finishDone = nullptr;
};

#endif // UPLOADWORKER_H

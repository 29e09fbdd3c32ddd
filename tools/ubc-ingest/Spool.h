#ifndef SPOOL_H
#define SPOOL_H

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
#include <QtCore/QStringList>

// Accepted rows on disk until the store has them: numbered segment files in
// one folder. Rows go to the open segment; sync() makes them durable; a
// sealed segment waits for the flusher, which removes it only once the store
// answered for it. Whatever a crash leaves is sealed at the next open.
class Spool
{
public:
    explicit Spool(const QString &dir);
    ~Spool();

    // Creates the folder, mends and seals the segments found there (a row
    // cut short by a crash is dropped: it was never confirmed).
    bool open(QString *error);

    // Appends whole rows to the open segment; on failure the segment is
    // left as it was.
    bool append(const QByteArray &rows);
    // Makes every append so far durable.
    bool sync();
    // Seals the open segment (synced first); false when there is none.
    bool seal();

    qint64 openBytes() const { return m_openBytes; }
    qint64 openAgeMs() const { return m_openSince.isValid() ? m_openSince.elapsed() : 0; }
    qint64 bytes() const { return m_bytes; }

    // The oldest sealed segments, together at most maxBytes (at least one).
    QStringList nextSealed(qint64 maxBytes) const;
    // The store has them.
    void remove(const QStringList &paths);
    // A row the store refuses: kept in refused/rows.jsonl for the operator.
    void setAside(const QByteArray &row);
    int sealedCount() const { return m_sealed.size(); }

private:
    bool mend(const QString &path, qint64 *size);
    bool syncFolder();

    struct Segment
    {
        QString path;
        qint64 bytes;
    };
    QString m_dir;
    QList<Segment> m_sealed;
    quint64 m_next = 1;
    int m_fd = -1;
    QString m_openPath;
    qint64 m_openBytes = 0;
    qint64 m_bytes = 0;
    bool m_dirty = false;
    QElapsedTimer m_openSince;
};

#endif // SPOOL_H

#include "Spool.h"

#include "IngestLogging.h"
#include "RowChecker.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kSuffix = QStringLiteral(".rows");

QString segmentName(quint64 number)
{
    return QStringLiteral("%1").arg(number, 16, 10, QLatin1Char('0')) + kSuffix;
}

} // namespace

Spool::Spool(const QString &dir)
    : m_dir(dir)
{
}

Spool::~Spool()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Spool::syncFolder()
{
    const int fd = ::open(QFile::encodeName(m_dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Keeps the rows of a segment that a crash may have cut short or (after a
// power cut) filled with what was never written.
bool Spool::mend(const QString &path, qint64 *size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    file.close();
    RowChecker checker;
    QByteArray kept;
    kept.reserve(data.size());
    int dropped = 0;
    for (int from = 0; from < data.size();) {
        const int newline = data.indexOf('\n', from);
        if (newline < 0) { // a row whose write did not finish
            ++dropped;
            break;
        }
        if (!checker.append(data.mid(from, newline - from), kept).isEmpty())
            ++dropped;
        from = newline + 1;
    }
    *size = kept.size();
    if (!dropped)
        return true;
    qCWarning(lcIngest, "%s: %d line(s) that are not rows left out (cut short by a crash)",
              qPrintable(path), dropped);
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(kept) == kept.size() && out.commit();
}

bool Spool::open(QString *error)
{
    if (!QDir().mkpath(m_dir + QStringLiteral("/refused"))) {
        *error = QStringLiteral("cannot make the spool folder %1").arg(m_dir);
        return false;
    }
    const QStringList names = QDir(m_dir).entryList({QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QString path = m_dir + QLatin1Char('/') + name;
        qint64 size = 0;
        if (!mend(path, &size)) {
            *error = QStringLiteral("cannot read or mend the segment %1").arg(path);
            return false;
        }
        m_next = qMax(m_next, name.left(name.size() - kSuffix.size()).toULongLong() + 1);
        if (size == 0) {
            QFile::remove(path);
            continue;
        }
        m_sealed.append({path, size});
        m_bytes += size;
    }
    if (!m_sealed.isEmpty())
        qCInfo(lcIngest, "%d segment(s), %lld bytes, left from before: sending them first",
               int(m_sealed.size()), m_bytes);
    return true;
}

bool Spool::append(const QByteArray &rows)
{
    if (m_fd < 0) {
        m_openPath = m_dir + QLatin1Char('/') + segmentName(m_next++);
        m_fd = ::open(QFile::encodeName(m_openPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC,
                      0600);
        // The new name must outlive a crash as well as the rows in it.
        if (m_fd < 0 || !syncFolder()) {
            qCWarning(lcIngest, "cannot make the segment %s: %s", qPrintable(m_openPath), std::strerror(errno));
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = -1;
            return false;
        }
        m_openBytes = 0;
        m_openSince.start();
    }
    const char *p = rows.constData();
    qint64 left = rows.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            qCWarning(lcIngest, "cannot write to %s: %s", qPrintable(m_openPath), std::strerror(errno));
            // No half request in the segment: its rows would spoil the insert of the rest.
            if (::ftruncate(m_fd, m_openBytes) != 0)
                seal();
            return false;
        }
        p += n;
        left -= n;
    }
    m_openBytes += rows.size();
    m_bytes += rows.size();
    m_dirty = true;
    return true;
}

bool Spool::sync()
{
    if (m_fd < 0 || !m_dirty)
        return true;
    if (::fdatasync(m_fd) != 0) {
        qCWarning(lcIngest, "cannot sync %s: %s", qPrintable(m_openPath), std::strerror(errno));
        return false;
    }
    m_dirty = false;
    return true;
}

bool Spool::seal()
{
    if (m_fd < 0)
        return false;
    sync();
    ::close(m_fd);
    m_fd = -1;
    if (m_openBytes > 0)
        m_sealed.append({m_openPath, m_openBytes});
    else
        QFile::remove(m_openPath);
    m_openBytes = 0;
    m_openSince.invalidate();
    return true;
}

QStringList Spool::nextSealed(qint64 maxBytes) const
{
    QStringList paths;
    qint64 total = 0;
    for (const Segment &s : m_sealed) {
        if (!paths.isEmpty() && total + s.bytes > maxBytes)
            break;
        paths.append(s.path);
        total += s.bytes;
    }
    return paths;
}

void Spool::remove(const QStringList &paths)
{
    for (int i = m_sealed.size() - 1; i >= 0; --i) {
        if (!paths.contains(m_sealed.at(i).path))
            continue;
        QFile::remove(m_sealed.at(i).path);
        m_bytes -= m_sealed.at(i).bytes;
        m_sealed.removeAt(i);
    }
}

void Spool::setAside(const QByteArray &row)
{
    QFile file(m_dir + QStringLiteral("/refused/rows.jsonl"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(row) != row.size() || !file.flush()
        || ::fdatasync(file.handle()) != 0)
        qCCritical(lcIngest, "cannot keep a refused row in %s: %s", qPrintable(file.fileName()),
                   qPrintable(file.errorString()));
}

#ifndef PATHDIGESTER_H
#define PATHDIGESTER_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <string>
#include <string_view>
#include <vector>

// Keeps paths on the desktop: a path-like field on its way to the store
// becomes "hmac:" and 32 hex digits, an HMAC-SHA-256 of the normalised path
// (separators '/', "." and ".." resolved, a drive or UNC path in lower case)
// under this installation's key. The same project gives the same digest on
// this computer, so the fleet can count distinct projects; without the key,
// which never leaves the computer, a digest cannot be checked against a
// guessed path. Not thread-safe: one thread digests.
class PathDigester
{
public:
    // The key lives in the file at keyPath (0600), read or made at the first
    // digest, so that nothing is written before anything is sent. Paths pass
    // as written while sendPaths is set.
    PathDigester(const QString &keyPath, bool sendPaths, const QStringList &pathKeys);

    bool sendsPaths() const { return m_sendPaths; }
    // An attribute key the host marked as holding a path.
    bool isPathKey(std::string_view key) const;
    // The text to send for path; empty stays empty.
    std::string digest(std::string_view path) const;

private:
    // A key of this run alone, with a warning, when the file cannot be kept.
    void loadKey() const;

    QString m_keyPath;
    mutable QByteArray m_key;
    bool m_sendPaths;
    std::vector<std::string> m_pathKeys;
};

#endif // PATHDIGESTER_H

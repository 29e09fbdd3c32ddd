#ifndef PATHDIGESTER_H
#define PATHDIGESTER_H

#include <QtCore/QByteArray>
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
// guessed path.
class PathDigester
{
public:
    // Paths pass as written while sendPaths is set.
    PathDigester(const QByteArray &key, bool sendPaths, const QStringList &pathKeys);

    bool sendsPaths() const { return m_sendPaths; }
    // An attribute key the host marked as holding a path.
    bool isPathKey(std::string_view key) const;
    // The text to send for path; empty stays empty.
    std::string digest(std::string_view path) const;

    // This installation's key from the file at path, made there (0600) the
    // first time; a key of this run alone, and *error, when the file
    // cannot be kept.
    static QByteArray installationKey(const QString &path, QString *error);

private:
    QByteArray m_key;
    bool m_sendPaths;
    std::vector<std::string> m_pathKeys;
};

#endif // PATHDIGESTER_H

#include "PathDigester.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QMessageAuthenticationCode>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSaveFile>

namespace {

constexpr int KeyBytes = 32;

QString normalised(std::string_view path)
{
    QString text = QString::fromUtf8(path.data(), int(path.size()));
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool windows = text.startsWith(QLatin1String("//"))
                         || (text.size() >= 2 && text.at(1) == QLatin1Char(':') && text.at(0).isLetter());
    text = QDir::cleanPath(text);
    return windows ? text.toLower() : text; // Windows names are not case-sensitive
}

} // namespace

PathDigester::PathDigester(const QByteArray &key, bool sendPaths, const QStringList &pathKeys)
    : m_key(key), m_sendPaths(sendPaths)
{
    for (const QString &k : pathKeys)
        m_pathKeys.push_back(k.toStdString());
}

bool PathDigester::isPathKey(std::string_view key) const
{
    for (const std::string &k : m_pathKeys)
        if (key == k)
            return true;
    return false;
}

std::string PathDigester::digest(std::string_view path) const
{
    if (path.empty())
        return std::string();
    const QByteArray mac = QMessageAuthenticationCode::hash(normalised(path).toUtf8(), m_key, QCryptographicHash::Sha256);
    return "hmac:" + mac.left(16).toHex().toStdString();
}

QByteArray PathDigester::installationKey(const QString &path, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray key = file.read(KeyBytes + 1);
        if (key.size() == KeyBytes)
            return key;
    }
    QByteArray key(KeyBytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(key.data()), KeyBytes / 4);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || out.write(key) != KeyBytes || !out.commit())
        *error = out.errorString();
    return key;
}

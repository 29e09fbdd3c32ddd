#include "PathDigester.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>
#include <QtCore/QMessageAuthenticationCode>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSaveFile>

namespace {

Q_LOGGING_CATEGORY(lcPaths, "kelubc.upload")

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

PathDigester::PathDigester(const QString &keyPath, bool sendPaths, const QStringList &pathKeys)
    : m_keyPath(keyPath), m_sendPaths(sendPaths)
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
    if (m_key.isEmpty())
        loadKey();
    const QByteArray mac = QMessageAuthenticationCode::hash(normalised(path).toUtf8(), m_key, QCryptographicHash::Sha256);
    return "hmac:" + mac.left(16).toHex().toStdString();
}

void PathDigester::loadKey() const
{
    QFile file(m_keyPath);
    if (file.open(QIODevice::ReadOnly)) {
        m_key = file.read(KeyBytes + 1);
        if (m_key.size() == KeyBytes)
            return;
    }
    // The log's folder may not be there yet: RuvUbc makes it at its first record.
    const QString folder = QFileInfo(m_keyPath).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_key = QByteArray(KeyBytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(m_key.data()), KeyBytes / 4);
    QSaveFile out(m_keyPath);
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || out.write(m_key) != KeyBytes || !out.commit())
        qCWarning(lcPaths, "cannot keep the path digest key in %s (%s): this run's digests are its own",
                  qUtf8Printable(m_keyPath), qUtf8Printable(out.errorString()));
}

#include "RotatedLogs.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <algorithm>

namespace {

// The number after "<name>.", or 0 when the rest is not one.
quint64 numberAfter(const QString &fileName, const QString &logName)
{
    const int start = logName.size() + 1;
    if (fileName.size() <= start || fileName.size() > start + 18 || !fileName.startsWith(logName)
        || fileName.at(start - 1) != QLatin1Char('.') || fileName.at(start) == QLatin1Char('0'))
        return 0;
    quint64 number = 0;
    for (int i = start; i < fileName.size(); ++i) {
        const QChar c = fileName.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        number = number * 10 + quint64(c.unicode() - '0');
    }
    return number;
}

} // namespace

QVector<RotatedLogs::File> RotatedLogs::list(const QString &logPath)
{
    const QFileInfo log(logPath);
    const QString name = log.fileName();
    QVector<File> files;
    const QFileInfoList entries = QDir(log.path()).entryInfoList({name + QStringLiteral(".*")},
                                                                 QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (const quint64 number = numberAfter(entry.fileName(), name))
            files.append({number, entry.filePath(), entry.size()});
    }
    std::sort(files.begin(), files.end(), [](const File &a, const File &b) { return a.number < b.number; });
    return files;
}

QString RotatedLogs::nextPath(const QString &logPath)
{
    const QVector<File> files = list(logPath);
    return logPath + QLatin1Char('.') + QString::number(files.isEmpty() ? 1 : files.last().number + 1);
}

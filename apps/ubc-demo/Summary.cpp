#include "Summary.h"

#include "JsonObjectReader.h"

#include <QtCore/QFile>
#include <QtCore/QJsonObject>
#include <QtCore/QTextStream>

namespace {

template <typename Key>
QString tally(const QMap<Key, int> &counts)
{
    QStringList parts;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

quint64 codeOf(const QJsonValue &value)
{
    return value.isString() ? value.toString().toULongLong() : quint64(value.toDouble());
}

} // namespace

Summary::Summary(const QString &recordsPath, const QString &eventsPath)
    : m_recordsPath(recordsPath),
      m_eventsPath(eventsPath)
{
}

bool Summary::read()
{
    const bool records = readLines(m_recordsPath, [this](const QJsonObject &record) {
        ++m_records;
        ++m_byGroup[record.value(QStringLiteral("fngroup")).toString()];
        const QJsonObject attrs = record.value(QStringLiteral("attrs")).toObject();
        if (attrs.contains(QStringLiteral("location"))) {
            const QString location = attrs.value(QStringLiteral("location")).toString();
            ++m_byLocation[location.isEmpty() ? QStringLiteral("(none)") : location];
        }
    });
    const bool events = readLines(m_eventsPath, [this](const QJsonObject &event) {
        ++m_events;
        const quint64 code = codeOf(event.value(QStringLiteral("code")));
        ++m_byCode[code];
        const QJsonObject attrs = event.value(QStringLiteral("attrs")).toObject();
        if (attrs.contains(QStringLiteral("tjsc")))
            m_durations.insert(code, attrs.value(QStringLiteral("tjsc")).toString());
    });
    return records && events;
}

bool Summary::readLines(const QString &path, const std::function<void(const QJsonObject &)> &take)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // No coded event at all leaves no journal; that is not an error.
        if (!file.exists() && path == m_eventsPath)
            return true;
        m_error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty())
            continue;
        QJsonObject object;
        if (!JsonObjectReader::read(line, &object)) {
            m_error = QStringLiteral("%1:%2: not a JSON object").arg(path).arg(number);
            return false;
        }
        take(object);
    }
    return true;
}

void Summary::print(const SessionFacts &facts) const
{
    QStringList statistics;
    for (auto it = facts.statistics.cbegin(); it != facts.statistics.cend(); ++it) {
        QString line = QString::number(it.key());
        if (!m_byCode.contains(it.key()))
            line += QStringLiteral(" not sent");
        else if (it.value() == 2)
            line += QStringLiteral(" sent at the project's close");
        else
            line += QStringLiteral(" committed after %1 s").arg(m_durations.value(it.key(), QStringLiteral("?")));
        statistics << line;
    }
    QTextStream out(stdout);
    out << "\nSession summary\n"
        << "  records:        " << m_records << '\n'
        << "    by group:     " << tally(m_byGroup) << '\n'
        << "    by location:  " << tally(m_byLocation) << '\n'
        << "  coded events:   " << m_events << '\n'
        << "    by code:      " << tally(m_byCode) << '\n'
        << "  time records:   " << tally(facts.timeRecords) << '\n'
        << "  project:        " << QString::number(facts.runningTime / 1000.0, 'f', 1)
        << " s working time, " << facts.editCount << " edits\n"
        << "  statistics:     " << (statistics.isEmpty() ? QStringLiteral("none") : statistics.join(QStringLiteral("; ")))
        << '\n'
        << "Record log:       " << m_recordsPath << '\n'
        << "Coded-event log:  " << m_eventsPath << '\n';
    out.flush();
}

#include "Summary.h"

#include <RecordFormat/JournalLineReader.h>
#include <RecordFormat/RecordLineReader.h>

#include <QtCore/QFile>
#include <QtCore/QTextStream>

#include <cstdio>

namespace {

template <typename Key>
QString tally(const QMap<Key, int> &counts)
{
    QStringList parts;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

} // namespace

Summary::Summary(const QString &recordsPath, const QString &eventsPath)
    : m_recordsPath(recordsPath),
      m_eventsPath(eventsPath)
{
}

bool Summary::read()
{
    RecordLineReader recordReader;
    LogRecord record;
    const bool records = readLines(m_recordsPath, [&](std::string_view line) {
        if (const char *why = recordReader.read(line, record))
            return why;
        ++m_records;
        ++m_byGroup[qs(record.text(RecordFields::Fngroup))];
        if (const RecordAttr *location = record.attr("location"))
            ++m_byLocation[location->value.empty() ? QStringLiteral("(none)") : qs(location->value)];
        return static_cast<const char *>(nullptr);
    });
    JournalLineReader eventReader;
    JournalEvent event;
    const bool events = readLines(m_eventsPath, [&](std::string_view line) {
        if (const char *why = eventReader.read(line, event))
            return why;
        ++m_events;
        const quint64 code = qs(event.code).toULongLong();
        ++m_byCode[code];
        if (const RecordAttr *tjsc = event.attr("tjsc"))
            m_durations.insert(code, qs(tjsc->value));
        return static_cast<const char *>(nullptr);
    });
    return records && events;
}

bool Summary::readLines(const QString &path, const std::function<const char *(std::string_view)> &take)
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
        if (const char *why = take(std::string_view(line.constData(), size_t(line.size())))) {
            m_error = QStringLiteral("%1:%2: %3").arg(path, QString::number(number), QLatin1String(why));
            return false;
        }
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
    // UTF-8 whatever the locale's code page, as the record lines above.
    QString text;
    QTextStream out(&text);
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
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

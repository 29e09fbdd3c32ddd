#include "TextReport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QTextStream>

#include <algorithm>

namespace {

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString percent(double share)
{
    return QString::number(share * 100.0, 'f', 1) + QLatin1Char('%');
}

qint64 num(const QJsonObject &o, const char *key)
{
    return qint64(o.value(QLatin1String(key)).toDouble());
}

QString str(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}

QJsonArray list(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toArray();
}

const int TopRows = 15;

// Pads to a terminal width in which CJK characters take two columns.
QString pad(const QString &s, int width)
{
    int used = 0;
    for (QChar c : s)
        used += c.unicode() >= 0x1100 ? 2 : 1;
    return s + QString(std::max(1, width - used), QLatin1Char(' '));
}

} // namespace

QString TextReport::render(const QJsonObject &s)
{
    QString text;
    QTextStream out(&text);
    const QJsonObject totals = s.value(QLatin1String("totals")).toObject();
    const QJsonObject input = s.value(QLatin1String("input")).toObject();
    const QJsonObject period = s.value(QLatin1String("period")).toObject();

    out << "Behaviour report";
    if (!str(period, "firstDay").isEmpty())
        out << ", " << str(period, "firstDay") << " to " << str(period, "lastDay");
    if (!str(period, "product").isEmpty())
        out << ", product " << str(period, "product");
    out << "\n";
    if (str(input, "source") == QLatin1String("files"))
        out << "  read:        " << num(input, "lines") << " lines in " << list(input, "files").size()
            << " files; " << num(input, "malformed") << " malformed lines skipped, "
            << num(input, "duplicates") << " duplicates counted once, " << num(input, "filtered")
            << " outside the period or product\n";
    else
        out << "  read:        " << str(input, "url") << " (" << str(input, "table") << ")\n";
    out << "  records:     " << num(totals, "records") << " (" << num(totals, "actions") << " commands, "
        << num(totals, "events") << " named events, " << num(totals, "edits") << " property edits, "
        << num(totals, "lifecycle") << " lifecycle)\n";
    out << "  sessions:    " << num(totals, "sessions") << " on " << num(totals, "machines") << " machines, "
        << num(totals, "unclosedSessions") << " without a close record\n";
    out << "  work time:   " << duration(num(totals, "workSeconds")) << " in all, median session "
        << duration(num(totals, "medianSessionSeconds")) << "\n";

    const QJsonArray sessions = list(s, "sessions");
    out << "\nLongest sessions\n";
    for (int i = 0; i < sessions.size() && i < 5; ++i) {
        const QJsonObject o = sessions[i].toObject();
        out << "  " << str(o, "id").left(36).leftJustified(37) << str(o, "start") << "  "
            << duration(num(o, "workSeconds")).rightJustified(12) << "  " << num(o, "records") << " records"
            << (o.value(QLatin1String("closed")).toBool() ? "" : " (not closed)") << "\n";
    }

    const QJsonArray commands = list(s, "commands");
    out << "\nTop commands (" << commands.size() << " used)\n";
    out << "  code    name                      group       runs  shortcut  events  edits\n";
    for (int i = 0; i < commands.size() && i < TopRows; ++i) {
        const QJsonObject o = commands[i].toObject();
        out << "  " << str(o, "code").leftJustified(8) << pad(str(o, "name"), 26)
            << pad(str(o, "group"), 10) << QString::number(num(o, "actions")).rightJustified(6)
            << percent(o.value(QLatin1String("shortcutShare")).toDouble()).rightJustified(10)
            << QString::number(num(o, "events")).rightJustified(8)
            << QString::number(num(o, "edits")).rightJustified(7) << "\n";
    }

    out << "\nCommands by location\n";
    for (const QJsonValue &v : list(s, "locations")) {
        const QJsonObject o = v.toObject();
        out << "  " << str(o, "location").leftJustified(13) << QString::number(num(o, "count")).rightJustified(9)
            << percent(o.value(QLatin1String("share")).toDouble()).rightJustified(8) << "\n";
    }

    const QJsonArray gaps = list(s, "shortcutGaps");
    out << "\nReached only through menus on some machines although they have a shortcut\n";
    if (gaps.isEmpty())
        out << "  none\n";
    for (const QJsonValue &v : gaps) {
        const QJsonObject o = v.toObject();
        out << "  " << str(o, "code").leftJustified(8) << pad(str(o, "name"), 26)
            << num(o, "menuOnlyMachines") << " of " << num(o, "machines") << " machines never use its shortcut\n";
    }

    out << "\nProperty edits\n";
    for (const QJsonValue &v : list(s, "properties")) {
        const QJsonObject o = v.toObject();
        out << "  " << pad(str(o, "property"), 24) << num(o, "edits") << "\n";
    }

    out << "\nProjects\n";
    for (const QJsonValue &v : list(s, "projects")) {
        const QJsonObject o = v.toObject();
        out << "  " << pad(str(o, "name"), 30) << " open " << duration(num(o, "openSeconds")).rightJustified(12)
            << "  saves " << num(o, "saves") << "  edits " << num(o, "edits") << "\n";
    }

    const QJsonObject statistics = s.value(QLatin1String("statistics")).toObject();
    out << "\nStatistics sent\n";
    for (const QJsonValue &v : list(statistics, "sent")) {
        const QJsonObject o = v.toObject();
        out << "  " << str(o, "code").leftJustified(10) << pad(str(o, "name"), 20) << num(o, "count")
            << " sent, " << num(o, "timed") << " with a duration, mean "
            << o.value(QLatin1String("meanSeconds")).toDouble() << " s, max " << num(o, "maxSeconds") << " s\n";
    }
    out << "  saves " << num(statistics, "saves") << ", idle returns " << num(statistics, "idleReturns") << " ("
        << statistics.value(QLatin1String("idleReturnsPerHour")).toDouble() << " per hour of work)\n";

    out << "\nVersions\n";
    out << "  ver           sessions  machines   records  commands  shortcut  mean session\n";
    for (const QJsonValue &v : list(s, "versions")) {
        const QJsonObject o = v.toObject();
        out << "  " << str(o, "ver").leftJustified(12) << QString::number(num(o, "sessions")).rightJustified(10)
            << QString::number(num(o, "machines")).rightJustified(10)
            << QString::number(num(o, "records")).rightJustified(10)
            << QString::number(num(o, "actions")).rightJustified(10)
            << percent(o.value(QLatin1String("shortcutShare")).toDouble()).rightJustified(10)
            << duration(num(o, "meanSessionSeconds")).rightJustified(14) << "\n";
    }

    if (s.contains(QLatin1String("dictionary"))) {
        const QJsonObject dict = s.value(QLatin1String("dictionary")).toObject();
        const QJsonArray unused = list(dict, "unused");
        out << "\nDictionary commands never used (" << unused.size() << " of " << num(dict, "commands") << ")\n";
        for (const QJsonValue &v : unused) {
            const QJsonObject o = v.toObject();
            out << "  " << str(o, "code").leftJustified(8) << pad(str(o, "name"), 26) << str(o, "group") << "\n";
        }
    }
    return text;
}

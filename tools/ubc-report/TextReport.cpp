#include "TextReport.h"

#include "Summary.h"

#include <QtCore/QTextStream>

#include <algorithm>

namespace {

QString duration(int64_t seconds)
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

const size_t TopRows = 15;

QString completenessRow(const QString &key, const Summary::Completeness &c)
{
    return QStringLiteral("  ") + key.leftJustified(12) + QString::number(c.sessions).rightJustified(10)
           + QString::number(c.expected).rightJustified(10) + QString::number(c.present).rightJustified(10)
           + QString::number(c.expected - c.present).rightJustified(10) + percent(c.share).rightJustified(9)
           + QString::number(c.gapSessions).rightJustified(14) + QLatin1Char('\n');
}

// Pads to a terminal width in which CJK characters take two columns.
QString pad(const QString &s, int width)
{
    int used = 0;
    for (QChar c : s)
        used += c.unicode() >= 0x1100 ? 2 : 1;
    return s + QString(std::max(1, width - used), QLatin1Char(' '));
}

} // namespace

QString TextReport::render(const Summary &s)
{
    QString text;
    QTextStream out(&text);
    const Summary::Totals &totals = s.totals;
    const Summary::Input &input = s.input;
    const Summary::Period &period = s.period;

    out << "Behaviour report";
    if (!period.firstDay.isEmpty())
        out << ", " << period.firstDay << " to " << period.lastDay;
    if (!period.product.isEmpty())
        out << ", product " << period.product;
    out << "\n";
    if (!input.fromServer)
        out << "  read:        " << input.lines << " lines in " << input.files.size()
            << " files; " << input.malformed << " malformed lines skipped, "
            << input.duplicates << " duplicates counted once, " << input.filtered
            << " outside the period or product\n";
    else
        out << "  read:        " << input.url << " (" << input.table << ")\n";
    out << "  records:     " << totals.records << " (" << totals.actions << " commands, "
        << totals.events << " named events, " << totals.edits << " property edits, "
        << totals.lifecycle << " lifecycle)\n";
    out << "  sessions:    " << totals.sessions << " on " << totals.machines << " machines, "
        << totals.unclosedSessions << " without a close record\n";
    out << "  work time:   " << duration(totals.workSeconds) << " in all, median session "
        << duration(totals.medianSessionSeconds) << "\n";

    out << "\nLongest sessions\n";
    for (size_t i = 0; i < s.sessions.size() && i < 5; ++i) {
        const Summary::Session &o = s.sessions[i];
        out << "  " << o.id.left(36).leftJustified(37) << o.start << "  "
            << duration(o.workSeconds).rightJustified(12) << "  " << o.records << " records"
            << (o.closed ? "" : " (not closed)") << "\n";
    }

    out << "\nTop commands (" << s.commands.size() << " used)\n";
    out << "  code    name                      group       runs  shortcut  events  edits\n";
    for (size_t i = 0; i < s.commands.size() && i < TopRows; ++i) {
        const Summary::Command &o = s.commands[i];
        out << "  " << o.code.leftJustified(8) << pad(o.name, 26) << pad(o.group, 10)
            << QString::number(o.actions).rightJustified(6) << percent(o.shortcutShare).rightJustified(10)
            << QString::number(o.events).rightJustified(8) << QString::number(o.edits).rightJustified(7) << "\n";
    }

    out << "\nCommands by location\n";
    for (int l = 0; l < UbcReport::LocationCount; ++l)
        out << "  " << QString::fromLatin1(UbcReport::locationKey(UbcReport::Location(l))).leftJustified(13)
            << QString::number(s.locations[l].count).rightJustified(9)
            << percent(s.locations[l].share).rightJustified(8) << "\n";

    out << "\nReached only through menus on some machines although they have a shortcut\n";
    if (s.shortcutGaps.empty())
        out << "  none\n";
    for (size_t i : s.shortcutGaps) {
        const Summary::Command &o = s.commands[i];
        out << "  " << o.code.leftJustified(8) << pad(o.name, 26)
            << o.menuOnlyMachines << " of " << o.machines << " machines never use its shortcut\n";
    }

    out << "\nProperty edits\n";
    for (const Summary::Property &o : s.properties)
        out << "  " << pad(o.property, 24) << o.edits << "\n";

    out << "\nProjects\n";
    for (const Summary::Project &o : s.projects)
        out << "  " << pad(o.name, 30) << " open " << duration(o.openSeconds).rightJustified(12)
            << "  saves " << o.saves << "  edits " << o.edits << "\n";

    const Summary::Statistics &statistics = s.statistics;
    out << "\nStatistics sent\n";
    for (const Summary::Sent &o : statistics.sent)
        out << "  " << o.code.leftJustified(10) << pad(o.name, 20) << o.count
            << " sent, " << o.timed << " with a duration, mean "
            << o.meanSeconds << " s, max " << o.maxSeconds << " s\n";
    out << "  saves " << statistics.saves << ", idle returns " << statistics.idleReturns << " ("
        << statistics.idleReturnsPerHour << " per hour of work)\n";

    out << "\nVersions\n";
    out << "  ver           sessions  machines   records  commands  shortcut  mean session\n";
    for (const Summary::Version &o : s.versions)
        out << "  " << o.ver.leftJustified(12) << QString::number(o.sessions).rightJustified(10)
            << QString::number(o.machines).rightJustified(10)
            << QString::number(o.records).rightJustified(10)
            << QString::number(o.actions).rightJustified(10)
            << percent(o.shortcutShare).rightJustified(10)
            << duration(o.meanSessionSeconds).rightJustified(14) << "\n";

    const Summary::Coverage &cover = s.completeness;
    out << "\nCompleteness (records each session numbered against records here)\n";
    out << "                sessions  expected   present   missing  present  sessions with gaps\n";
    out << completenessRow(QStringLiteral("all"), cover.total);
    for (const Summary::Completeness &c : cover.byVersion)
        out << completenessRow(QStringLiteral("ver ") + c.key, c);
    for (const Summary::Completeness &c : cover.byDay)
        out << completenessRow(c.key, c);
    for (size_t i = 0; i < cover.gaps.size() && i < 5; ++i) {
        const Summary::Gap &g = cover.gaps[i];
        out << "  gap: " << g.session.left(36) << " (" << g.machine.left(20) << ", ver " << g.ver << ", " << g.day << "): "
            << g.expected - g.present << " of " << g.expected << " missing\n";
    }
    if (cover.gaps.size() > 5)
        out << "  ... and " << cover.gaps.size() - 5 << " more sessions with gaps\n";
    if (cover.uploadLosses) {
        out << "  lost by the uploaders:";
        for (const Summary::Loss &l : *cover.uploadLosses)
            out << " " << l.kind << " " << l.records;
        out << "\n";
    }

    if (s.dictionary) {
        const Summary::Dictionary &dict = *s.dictionary;
        out << "\nDictionary commands never used (" << dict.unused.size() << " of " << dict.commands << ")\n";
        for (const Summary::DictionaryCommand &o : dict.unused)
            out << "  " << o.code.leftJustified(8) << pad(o.name, 26) << o.group << "\n";
    }
    return text;
}

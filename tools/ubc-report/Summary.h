#ifndef SUMMARY_H
#define SUMMARY_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The report's figures, sorted and with their shares: what the text, JSON and
// HTML writers show. Built from Aggregates one section at a time; the writers
// only read it.
class Summary
{
public:
    struct Options
    {
        ReportFilter filter;
        QString dictionary;     // KelUbc.db, or empty
        QString language;       // "zh", "en", or empty to follow the records
    };

    // Where the records came from; filled by the caller, shown as it is.
    struct Input
    {
        bool fromServer = false;
        QStringList files;                              // the logs, without a server
        int64_t lines = 0, malformed = 0, duplicates = 0, filtered = 0;
        QString url, table;                             // the server
        QStringList codedFiles;
        int64_t codedMalformed = 0;
    };

    struct Session
    {
        QString id, machine, ver, start;    // start: UTC, ISO 8601
        int64_t workSeconds = 0;
        bool closed = false;
        int64_t records = 0, actions = 0, shortcuts = 0;
    };

    struct Command
    {
        QString code, name, group;
        int64_t actions = 0, events = 0, edits = 0, shortcut = 0;
        double shortcutShare = 0;
        int64_t byLocation[UbcReport::LocationCount] = {};
        int64_t machines = 0, menuOnlyMachines = 0;
    };

    struct CodeCount { QString code, name; int64_t count = 0; };
    struct LocationShare { int64_t count = 0; double share = 0; };
    struct Label { QString label; UbcReport::Location location; int64_t count = 0; };
    struct Property { QString property; int64_t edits = 0; };

    struct Project
    {
        QString id, path, name;
        int64_t created = 0, opened = 0, saves = 0, closes = 0, openSeconds = 0, edits = 0, sizeKB = 0;
    };

    struct Sent
    {
        QString code, name;
        int64_t count = 0, timed = 0, totalSeconds = 0, maxSeconds = 0;
        double meanSeconds = 0;
    };
    struct Statistics
    {
        std::vector<Sent> sent;
        int64_t saves = 0, idleReturns = 0;
        double idleReturnsPerHour = 0;
    };

    struct Version
    {
        QString ver;
        int64_t sessions = 0, machines = 0, records = 0, actions = 0;
        double shortcutShare = 0;
        int64_t workSeconds = 0, meanSessionSeconds = 0;
    };

    struct Day { QString day; int64_t records = 0, actions = 0, sessions = 0; };

    struct Event
    {
        int64_t t = 0;                      // milliseconds after the session's first record
        uint64_t seq = 0;
        QString code, name;
        UbcReport::RecordKind kind = UbcReport::NamedEvent;
        UbcReport::Location location = UbcReport::NoLocation;
    };
    struct Timeline
    {
        QString session, start;
        std::vector<Event> events;
        std::optional<bool> truncated;      // unknown when the session is not among the sessions
    };

    struct Totals
    {
        int64_t records = 0, sessions = 0, unclosedSessions = 0, machines = 0;
        int64_t lifecycle = 0, actions = 0, edits = 0, events = 0;
        int64_t projects = 0, workSeconds = 0, medianSessionSeconds = 0;
    };

    // How complete the records are: a session's highest seq tells how many it
    // wrote. Sessions count on the day of their first record.
    struct Completeness
    {
        QString key;                        // the version or the day; empty for the whole
        int64_t sessions = 0, gapSessions = 0, expected = 0, present = 0;
        double share = 1;                   // present of expected
    };
    struct Gap { QString session, machine, ver, day; int64_t expected = 0, present = 0; };
    struct Loss { QString kind; int64_t records = 0; };
    struct Coverage
    {
        Completeness total;
        std::vector<Completeness> byVersion, byDay;
        std::vector<Gap> gaps;                      // most records missing first
        std::optional<std::vector<Loss>> uploadLosses; // the uploaders' own count, when the store has it
    };

    struct Period { QString since, until, product, firstDay, lastDay; };

    struct DictionaryCommand { QString code, name, group; };
    struct Dictionary
    {
        QString path;
        int64_t commands = 0, used = 0;
        std::vector<DictionaryCommand> unused;  // by code
    };

    // False with *error when the dictionary cannot be read.
    static bool build(const UbcReport::Aggregates &aggregates, const Options &options,
                      Summary *summary, QString *error);

    QString language;                       // "zh" or "en"
    std::vector<Session> sessions;          // longest working time first
    std::vector<Command> commands;          // most actions first
    std::vector<CodeCount> lifecycle;
    std::vector<size_t> shortcutGaps;       // indices into commands
    LocationShare locations[UbcReport::LocationCount];
    std::vector<Label> labels;
    std::vector<Property> properties;
    std::vector<Project> projects;
    Statistics statistics;
    std::vector<Version> versions;
    std::vector<Day> daily;
    Timeline timeline;
    Totals totals;
    Coverage completeness;
    Period period;
    std::optional<Dictionary> dictionary;
    Input input;

private:
    void addSessions(const UbcReport::Aggregates &a);
    void addCommands(const UbcReport::Aggregates &a);
    void addLabelsAndProperties(const UbcReport::Aggregates &a);
    void addProjects(const UbcReport::Aggregates &a);
    void addStatistics(const UbcReport::Aggregates &a);
    void addVersions(const UbcReport::Aggregates &a);
    void addDaily(const UbcReport::Aggregates &a);
    void addTimeline(const UbcReport::Aggregates &a);
    void addCompleteness(const UbcReport::Aggregates &a);
    void addTotals(const UbcReport::Aggregates &a);
    void addPeriod(const UbcReport::Aggregates &a, const ReportFilter &filter);
    bool addDictionary(const QString &path, const UbcReport::Aggregates &a, QString *error);
};

#endif // SUMMARY_H

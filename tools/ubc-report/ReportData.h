#ifndef REPORTDATA_H
#define REPORTDATA_H

// What a source of records hands to the summary: counts grouped by session,
// command, property, project and day. Both sources (log files and the fleet's
// ClickHouse) fill the same structures with the same rules, so they give the
// same summary for the same records.

#include <RecordFormat/RecordLabels.h>

#include <QtCore/QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace UbcReport {

// Where an action was started, from the record's "location" label: the five
// places the report tells apart, an empty label, and any other label.
enum Location { Ribbon, QuickAccess, ContextMenu, ViewPanel, Shortcut, NoLocation, OtherLocation,
                LocationCount };

enum RecordKind { Lifecycle, Action, PropertyEdit, NamedEvent };

struct SessionAgg
{
    std::string machine;            // smallest hardwareid seen in the session
    std::string ver;                // smallest ver seen in the session
    int64_t firstSec = INT64_MAX;   // UTC seconds of the first and last record
    int64_t lastSec = INT64_MIN;
    int64_t records = 0;
    int64_t actions = 0;
    int64_t shortcuts = 0;
    int64_t closeSeconds = -1;      // largest close-app duration, -1 without one
    // Completeness: the highest seq the session wrote and how many of its
    // numbered records are here (records without seq count in neither).
    uint64_t lastSeq = 0;
    int64_t numbered = 0;
    std::string firstDay;           // smallest local date of its records
};

struct CodeAgg
{
    std::string name;               // smallest fnname of its non-edit records
    std::string group;              // smallest group other than "" and "null"
    int64_t lifecycle = 0, actions = 0, edits = 0, events = 0;
    int64_t byLocation[LocationCount] = {};
    int64_t machines = 0;           // machines that ran it as an action
    int64_t menuOnlyMachines = 0;   // ... never by its shortcut
};

struct ProjectAgg
{
    std::string path;               // largest prjfullpath (empty unless created here)
    int64_t news = 0, opens = 0, saves = 0, closes = 0;
    int64_t openSeconds = 0;        // sum of the close records' durations
    int64_t edits = INT64_MIN;      // largest prjedocnt
    int64_t sizeKB = INT64_MIN;     // largest prjsize
};

struct DayAgg
{
    int64_t records = 0, actions = 0, sessions = 0;
};

struct CodedAgg
{
    int64_t count = 0, timed = 0, totalSeconds = 0, maxSeconds = 0;
};

struct TimelineEvent
{
    uint64_t seq = 0;
    std::string trigertime, code, name;
    RecordKind kind = NamedEvent;
    Location location = NoLocation;
};

struct Aggregates
{
    std::map<std::string, SessionAgg> sessions;
    std::map<std::string, CodeAgg> codes;
    std::map<std::string, int64_t> labels;      // raw location label of actions
    std::map<std::string, int64_t> properties;  // edited property -> edits
    std::map<std::string, ProjectAgg> projects;
    std::map<std::string, DayAgg> days;         // local date of trigertime
    std::string timelineSession;
    std::vector<TimelineEvent> timeline;        // by seq, at most TimelineLimit
    std::map<std::string, CodedAgg> coded;      // statistics from --coded journals
    int64_t saves = 0, idleReturns = 0;
    // The uploaders' own losses by kind (records); absent when the store keeps none.
    std::optional<std::map<std::string, int64_t>> uploadLosses;
};

constexpr size_t TimelineLimit = 2000;

// The timeline's order: by seq; records without one (their derived seq has
// the top bit set) after those, by trigertime.
bool timelineBefore(const TimelineEvent &a, const TimelineEvent &b);

// The record label of each place the report tells apart (Ribbon ... Shortcut).
constexpr RecordLabels::Label LocationLabels[] = {RecordLabels::LabelRibbonToolbar, RecordLabels::LabelRibbonQuickBar,
                                                  RecordLabels::LabelContextMenu, RecordLabels::LabelViewPanel,
                                                  RecordLabels::LabelShortcut};

Location locationOf(std::string_view label, int *language = nullptr); // language: 0 zh, 1 en, -1 none
const char *locationKey(Location location);
// The language of a lifecycle record's name.
int lifecycleLanguage(std::string_view name);          // 0 zh, 1 en, -1 unknown
RecordKind classify(std::string_view code, std::string_view name, bool hasLocation,
                    int attrCount, std::string_view firstAttrKey);
const char *kindKey(RecordKind kind);

// Decimal text as ClickHouse's toInt64OrZero reads it: 0 unless the whole text is a number.
int64_t toInt64OrZero(std::string_view text);

inline QString qs(const std::string &s) { return QString::fromStdString(s); }

} // namespace UbcReport

#endif // REPORTDATA_H

#ifndef REPORTDATA_H
#define REPORTDATA_H

// What a source of records hands to the summary: counts grouped by session,
// command, property, project and day. Both sources (log files and the fleet's
// ClickHouse) fill the same structures with the same rules, so they give the
// same summary for the same records.

#include <QtCore/QString>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace UbcReport {

// Where an action was started, from the record's "location" label.
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
};

constexpr size_t TimelineLimit = 2000;

// The application's and projects' records, 990001 to 990007.
extern const char *const LifecycleCodes[7];
constexpr std::string_view CloseAppCode = "990002", NewProjectCode = "990003", OpenProjectCode = "990004",
                           SaveProjectCode = "990005", CloseProjectCode = "990006";

// The library's labels, Chinese and English, as its shipped translator gives them.
extern const char *const PropertyLabels[2];           // "属性", "Property"
// The labels of a location, Chinese and English.
void locationLabels(Location location, const char *labels[2]);
Location locationOf(std::string_view label, int *language = nullptr); // language: 0 zh, 1 en, -1 none
const char *locationKey(Location location);
bool isLifecycleCode(std::string_view code);
// The language of a lifecycle record's name.
int lifecycleLanguage(std::string_view name);          // 0 zh, 1 en, -1 unknown
RecordKind classify(std::string_view code, std::string_view name, bool hasLocation,
                    int attrCount, std::string_view firstAttrKey);
const char *kindKey(RecordKind kind);

// Decimal text as ClickHouse's toInt64OrZero reads it: 0 unless the whole text is a number.
int64_t toInt64OrZero(std::string_view text);
// "2026-12-05T22:13:33.175+08:00" -> milliseconds since the epoch, UTC. False if malformed.
bool parseTrigerTime(std::string_view text, int64_t *msSinceEpoch);
// Floor division of milliseconds into seconds.
inline int64_t secondsOf(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

inline QString qs(const std::string &s) { return QString::fromStdString(s); }

} // namespace UbcReport

#endif // REPORTDATA_H

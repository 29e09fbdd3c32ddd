#ifndef RECORDAGGREGATOR_H
#define RECORDAGGREGATOR_H

#include "Interner.h"
#include "RecordLine.h"
#include "ReportData.h"
#include "SeqSet.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

// Adds records one at a time to the counts of Aggregates, each (sessionid,
// seq) once. Strings are interned, so memory grows with the distinct
// sessions, codes, projects and days, not with the records.
class RecordAggregator
{
public:
    // Where a session's lines lie in a file, to read them again for the timeline.
    struct FileRange
    {
        int file;
        int64_t begin, end;
    };

    // False when the session already holds this seq: a copy, not counted.
    bool add(const ReportRecord &record, int file, int64_t begin, int64_t end);

    // The session with the most records (the smallest id among equals) and
    // where its lines are; false without any session.
    bool timelineSession(std::string *id, std::vector<FileRange> *ranges) const;

    // The counts so far; the timeline and the journal's are not this class's.
    void fill(UbcReport::Aggregates &a) const;

private:
    struct Session
    {
        UbcReport::SessionAgg agg;
        SeqSet seqs;
        std::vector<FileRange> ranges;
        bool machineSet = false, verSet = false, firstDaySet = false;
    };
    struct Code
    {
        UbcReport::CodeAgg agg;
        bool named = false;
    };
    struct Label
    {
        int64_t count = 0;
        UbcReport::Location location = UbcReport::NoLocation;
    };

    uint32_t session(std::string_view id);
    void addLifecycle(const ReportRecord &r, Session &session, UbcReport::CodeAgg &code);
    void addAction(const ReportRecord &r, Session &session, UbcReport::CodeAgg &code, uint32_t codeId,
                   UbcReport::DayAgg &day);

    Interner m_sessionIds, m_machines, m_codes, m_labels, m_properties, m_projects, m_days;
    std::vector<Session> m_sessions;
    std::vector<Code> m_codeStates;
    std::vector<Label> m_labelStates;
    std::vector<int64_t> m_propertyCounts;
    std::vector<UbcReport::ProjectAgg> m_projectAggs;
    std::vector<UbcReport::DayAgg> m_dayAggs;
    std::unordered_set<uint64_t> m_daySessions;                             // (day, session)
    std::unordered_map<uint64_t, std::pair<int64_t, int64_t>> m_machineCodes; // (machine, code): actions, shortcuts
    uint32_t m_lastSession = UINT32_MAX;    // consecutive lines mostly share their session
    std::string m_lastSessionId;
};

#endif // RECORDAGGREGATOR_H

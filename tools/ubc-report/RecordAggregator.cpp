#include "RecordAggregator.h"

#include <RecordFormat/RecordCodes.h>
#include <RecordFormat/RecordIdentity.h>
#include <RecordFormat/TrigerTime.h>

#include <algorithm>

using namespace UbcReport;

namespace {

uint64_t pairKey(uint32_t a, uint32_t b)
{
    return (uint64_t(a) << 32) | b;
}

void keepMin(std::string &kept, bool &set, std::string_view value)
{
    if (!set || value < kept) {
        kept.assign(value.data(), value.size());
        set = true;
    }
}

// The index of s in interner and its state in states, added when new.
template<typename State>
State &stateOf(Interner &interner, std::vector<State> &states, std::string_view s, uint32_t *id = nullptr)
{
    bool added;
    const uint32_t i = interner.id(s, &added);
    if (added)
        states.emplace_back();
    if (id)
        *id = i;
    return states[i];
}

} // namespace

uint32_t RecordAggregator::session(std::string_view id)
{
    if (m_lastSession == UINT32_MAX || id != m_lastSessionId) {
        stateOf(m_sessionIds, m_sessions, id, &m_lastSession);
        m_lastSessionId.assign(id.data(), id.size());
    }
    return m_lastSession;
}

bool RecordAggregator::add(const ReportRecord &r, int file, int64_t begin, int64_t end)
{
    const uint32_t s = session(r.sessionid);
    Session &session = m_sessions[s];
    if (!session.seqs.insert(r.seq))
        return false;
    if (session.ranges.empty() || session.ranges.back().file != file)
        session.ranges.push_back({file, begin, end});
    else
        session.ranges.back().end = end;

    SessionAgg &sa = session.agg;
    const int64_t sec = TrigerTime::secondsOf(r.ms);
    sa.firstSec = std::min(sa.firstSec, sec);
    sa.lastSec = std::max(sa.lastSec, sec);
    ++sa.records;
    keepMin(sa.machine, session.machineSet, r.hardwareid);
    keepMin(sa.ver, session.verSet, r.ver);
    if (!RecordIdentity::isDerived(r.seq)) {
        sa.lastSeq = std::max(sa.lastSeq, r.seq);
        ++sa.numbered;
    }

    const RecordKind kind = classify(r.fncode, r.fnname, r.hasLocation, r.attrCount, r.firstAttrKey);
    uint32_t c;
    Code &code = stateOf(m_codes, m_codeStates, r.fncode, &c);
    if (kind != PropertyEdit)
        keepMin(code.agg.name, code.named, r.fnname);
    if (!r.fngroup.empty() && r.fngroup != "null" && (code.agg.group.empty() || r.fngroup < code.agg.group))
        code.agg.group.assign(r.fngroup.data(), r.fngroup.size());

    uint32_t dayId;
    const std::string_view dayText = r.trigertime.substr(0, 10);
    keepMin(sa.firstDay, session.firstDaySet, dayText);
    DayAgg &day = stateOf(m_days, m_dayAggs, dayText, &dayId);
    ++day.records;
    if (m_daySessions.insert(pairKey(dayId, s)).second)
        ++day.sessions;

    switch (kind) {
    case Lifecycle:
        addLifecycle(r, session, code.agg);
        break;
    case Action:
        addAction(r, session, code.agg, c, day);
        break;
    case PropertyEdit:
        ++code.agg.edits;
        ++stateOf(m_properties, m_propertyCounts, r.firstAttrKey);
        break;
    case NamedEvent:
        ++code.agg.events;
        break;
    }
    return true;
}

void RecordAggregator::addLifecycle(const ReportRecord &r, Session &session, CodeAgg &code)
{
    using namespace RecordCodes;
    ++code.lifecycle;
    const std::string_view c = r.fncode;
    if (c == CloseApp.code) {
        session.agg.closeSeconds = std::max(session.agg.closeSeconds, toInt64OrZero(r.duration));
    } else if (c == NewProject.code || c == OpenProject.code || c == SaveProject.code || c == CloseProject.code) {
        ProjectAgg &pa = stateOf(m_projects, m_projectAggs, r.projectid);
        if (r.prjfullpath > std::string_view(pa.path))
            pa.path.assign(r.prjfullpath.data(), r.prjfullpath.size());
        pa.news += c == NewProject.code;
        pa.opens += c == OpenProject.code;
        pa.saves += c == SaveProject.code;
        pa.closes += c == CloseProject.code;
        if (c == CloseProject.code)
            pa.openSeconds += toInt64OrZero(r.duration);
        pa.edits = std::max(pa.edits, toInt64OrZero(r.prjedocnt));
        pa.sizeKB = std::max(pa.sizeKB, toInt64OrZero(r.prjsize));
    }
}

void RecordAggregator::addAction(const ReportRecord &r, Session &session, CodeAgg &code, uint32_t codeId, DayAgg &day)
{
    ++code.actions;
    ++session.agg.actions;
    ++day.actions;
    bool added;
    const uint32_t l = m_labels.id(r.location, &added);
    if (added) {
        m_labelStates.emplace_back();
        m_labelStates.back().location = locationOf(r.location);
    }
    ++m_labelStates[l].count;
    const Location where = m_labelStates[l].location;
    ++code.byLocation[where];
    const bool shortcut = where == Shortcut;
    session.agg.shortcuts += shortcut;
    auto &mc = m_machineCodes[pairKey(m_machines.id(r.hardwareid), codeId)];
    ++mc.first;
    mc.second += shortcut;
}

bool RecordAggregator::timelineSession(std::string *id, std::vector<FileRange> *ranges) const
{
    int64_t best = -1;
    uint32_t chosen = 0;
    for (uint32_t s = 0; s < m_sessions.size(); ++s) {
        const int64_t n = m_sessions[s].agg.records;
        if (n > best || (n == best && m_sessionIds.text(s) < m_sessionIds.text(chosen))) {
            best = n;
            chosen = s;
        }
    }
    if (best < 0)
        return false;
    *id = m_sessionIds.text(chosen);
    *ranges = m_sessions[chosen].ranges;
    return true;
}

void RecordAggregator::fill(Aggregates &a) const
{
    for (uint32_t s = 0; s < m_sessions.size(); ++s)
        a.sessions.emplace(m_sessionIds.text(s), m_sessions[s].agg);
    std::vector<CodeAgg> codeAggs;
    for (const Code &c : m_codeStates)
        codeAggs.push_back(c.agg);
    for (const auto &mc : m_machineCodes) {
        CodeAgg &c = codeAggs[uint32_t(mc.first)];
        ++c.machines;
        c.menuOnlyMachines += mc.second.second == 0;
    }
    for (uint32_t c = 0; c < codeAggs.size(); ++c)
        a.codes.emplace(m_codes.text(c), codeAggs[c]);
    for (uint32_t l = 0; l < m_labelStates.size(); ++l)
        a.labels.emplace(m_labels.text(l), m_labelStates[l].count);
    for (uint32_t p = 0; p < m_propertyCounts.size(); ++p)
        a.properties.emplace(m_properties.text(p), m_propertyCounts[p]);
    for (uint32_t p = 0; p < m_projectAggs.size(); ++p)
        a.projects.emplace(m_projects.text(p), m_projectAggs[p]);
    for (uint32_t day = 0; day < m_dayAggs.size(); ++day)
        a.days.emplace(m_days.text(day), m_dayAggs[day]);
}

#include "RecordLine.h"

#include <RecordFormat/RecordLineReader.h>
#include <RecordFormat/TrigerTime.h>

static_assert(RecordLineReader::Padding <= RecordLine::Padding, "the reader promises its padding");

using F = RecordFields::Field;

struct RecordLine::Parser
{
    RecordLineReader reader;
    LogRecord record;
};

RecordLine::RecordLine() : m_parser(new Parser) {}

RecordLine::~RecordLine() = default;

const char *RecordLine::read(const char *line, size_t len, size_t capacity, ReportRecord &r)
{
    LogRecord &l = m_parser->record;
    if (const char *why = m_parser->reader.read(line, len, capacity, l))
        return why;
    r = ReportRecord();
    if (!TrigerTime::toEpochMs(l.text(F::Trigertime), &r.ms))
        return "trigertime is not a date and time";
    r.pcode = l.text(F::Pcode);
    r.fncode = l.text(F::Fncode);
    r.fnname = l.text(F::Fnname);
    r.fngroup = l.text(F::Fngroup);
    r.trigertime = l.text(F::Trigertime);
    r.hardwareid = l.text(F::Hardwareid);
    r.ver = l.text(F::Ver);
    r.projectid = l.text(F::Projectid);
    r.prjfullpath = l.text(F::Prjfullpath);
    r.prjedocnt = l.text(F::Prjedocnt);
    r.prjsize = l.text(F::Prjsize);
    r.duration = l.text(F::Duration);
    r.sessionid = l.text(F::Sessionid);
    r.seq = l.seq;
    r.attrCount = int(l.attrs.size());
    if (!l.attrs.empty())
        r.firstAttrKey = l.attrs.front().key;
    if (const RecordAttr *location = l.attr("location")) {
        r.hasLocation = true;
        r.location = location->value;
    }
    return nullptr;
}

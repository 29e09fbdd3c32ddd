#include "RecordLine.h"

#include "ReportData.h"

#include <simdjson.h>

#include <cstring>

namespace od = simdjson::ondemand;

static_assert(simdjson::SIMDJSON_PADDING <= RecordLine::Padding, "the reader promises its padding");

namespace {

template<size_t N>
bool keyIs(const char *raw, const char (&name)[N])
{
    // raw points into a padded buffer, so reading N bytes past a short key is safe.
    return std::memcmp(raw, name, N - 1) == 0 && raw[N - 1] == '"';
}

} // namespace

struct RecordLine::Parser
{
    od::parser parser;
};

RecordLine::RecordLine() : m_parser(new Parser) {}

RecordLine::~RecordLine() = default;

const char *RecordLine::read(const char *line, size_t len, size_t capacity, ReportRecord &r)
{
    r = ReportRecord();
    od::document doc;
    if (m_parser->parser.iterate(line, len, capacity).get(doc))
        return "not JSON";
    od::object obj;
    if (doc.get_object().get(obj))
        return "not a JSON object";
    bool haveSeq = false, haveSession = false, haveCode = false, haveTime = false;
    for (auto item : obj) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const char *k = field.key().raw();
        od::value v = field.value();
        std::string_view *target = nullptr;
        switch (k[0]) {
        case 'p':
            if (keyIs(k, "pcode")) target = &r.pcode;
            else if (keyIs(k, "projectid")) target = &r.projectid;
            else if (keyIs(k, "prjfullpath")) target = &r.prjfullpath;
            else if (keyIs(k, "prjedocnt")) target = &r.prjedocnt;
            else if (keyIs(k, "prjsize")) target = &r.prjsize;
            break;
        case 'f':
            if (keyIs(k, "fncode")) { target = &r.fncode; haveCode = true; }
            else if (keyIs(k, "fnname")) target = &r.fnname;
            else if (keyIs(k, "fngroup")) target = &r.fngroup;
            break;
        case 't':
            if (keyIs(k, "trigertime")) { target = &r.trigertime; haveTime = true; }
            break;
        case 'h':
            if (keyIs(k, "hardwareid")) target = &r.hardwareid;
            break;
        case 'v':
            if (keyIs(k, "ver")) target = &r.ver;
            break;
        case 'd':
            if (keyIs(k, "duration")) target = &r.duration;
            break;
        case 's':
            if (keyIs(k, "sessionid")) {
                target = &r.sessionid;
                haveSession = true;
            } else if (keyIs(k, "seq")) {
                if (v.get_uint64().get(r.seq) || r.seq == 0)
                    return "seq is not a positive integer";
                haveSeq = true;
            }
            break;
        case 'a':
            if (keyIs(k, "attrs")) {
                od::object attrs;
                if (v.get_object().get(attrs))
                    return "attrs is not an object";
                for (auto attrItem : attrs) {
                    if (attrItem.error())
                        return "broken JSON in attrs";
                    od::field attr = attrItem.value_unsafe();
                    std::string_view key, value;
                    if (attr.unescaped_key().get(key) || attr.value().get_string().get(value))
                        return "attrs holds a value that is not a string";
                    if (r.attrCount++ == 0)
                        r.firstAttrKey = key;
                    if (key == "location") {
                        r.hasLocation = true;
                        r.location = value;
                    }
                }
            }
            break;
        default:
            break;
        }
        if (target && v.get_string().get(*target))
            return "a field is not a string";
    }
    if (!doc.current_location().error())
        return "text after the record";
    if (!haveCode || !haveSession || !haveTime)
        return "fncode, sessionid or trigertime missing";
    if (!haveSeq)
        return "seq missing";
    if (!UbcReport::parseTrigerTime(r.trigertime, &r.ms))
        return "trigertime is not a date and time";
    return nullptr;
}

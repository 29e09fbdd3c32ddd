#include "JournalLineReader.h"

#include "RecordIdentity.h"
#include "SimdjsonReading.h"

using namespace SimdjsonReading;

struct JournalLineReader::Parser
{
    od::parser parser;
};

JournalLineReader::JournalLineReader() : m_parser(new Parser) {}

JournalLineReader::~JournalLineReader() = default;

const char *JournalLineReader::read(std::string_view line, JournalEvent &event)
{
    const char *data = padded(m_copy, line);
    return read(data, line.size(), m_copy.size(), event);
}

const char *JournalLineReader::read(const char *data, size_t size, size_t capacity, JournalEvent &e)
{
    e.time = e.code = std::string_view();
    e.attrsNull = false;
    e.attrs.clear();
    e.pcode = e.gid = e.sessionid = std::string_view();
    e.seq = 0;

    od::document doc;
    if (m_parser->parser.iterate(data, size, capacity).get(doc))
        return "not JSON";
    od::object object;
    if (doc.get_object().get(object))
        return "not a JSON object";
    enum { Time = 1, Code = 2, Attrs = 4, Pcode = 8, Gid = 16, Sessionid = 32, Seq = 64 };
    struct Text { const char *name; int member; std::string_view *text; };
    const Text texts[] = {{"time", Time, &e.time}, {"code", Code, &e.code}, {"pcode", Pcode, &e.pcode},
                          {"gid", Gid, &e.gid}, {"sessionid", Sessionid, &e.sessionid}};
    int seen = 0;
    for (auto item : object) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const char *raw = field.key().raw();
        const Text *text = nullptr;
        for (const Text &t : texts)
            if (keyIs(raw, t.name))
                text = &t;
        const int member = text ? text->member : keyIs(raw, "attrs") ? Attrs : keyIs(raw, "seq") ? Seq : 0;
        if (!member)
            continue;
        if (seen & member)
            return "a member is named twice";
        seen |= member;
        od::value value = field.value();
        if (text) {
            if (value.get_string().get(*text->text))
                return member == Time ? "time is not a string" : member == Code ? "code is not a string"
                                                                                 : "an identity member is not a string";
        } else if (member == Seq) {
            if (value.get_uint64().get(e.seq) || e.seq == 0 || e.seq > RecordIdentity::MaxSeq)
                return "seq is not a positive integer";
        } else {
            bool null = false;
            if (!value.is_null().get(null) && null)
                e.attrsNull = true;
            else if (const char *why = readAttrs(value, e.attrs))
                return why;
        }
    }
    if (textAfter(doc))
        return "text after the event";
    if ((seen & (Time | Code | Attrs)) != (Time | Code | Attrs) || e.time.size() < 10 || e.code.empty())
        return "time, code or attrs missing";
    // A seq names an event only within its session.
    if (!(seen & Seq) || !(seen & Sessionid)) {
        e.sessionid = std::string_view();
        e.seq = RecordIdentity::derivedSeq(std::string_view(data, size));
    }
    return nullptr;
}

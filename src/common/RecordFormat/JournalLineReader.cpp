#include "JournalLineReader.h"

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

    od::document doc;
    if (m_parser->parser.iterate(data, size, capacity).get(doc))
        return "not JSON";
    od::object object;
    if (doc.get_object().get(object))
        return "not a JSON object";
    enum { Time = 1, Code = 2, Attrs = 4 };
    int seen = 0;
    for (auto item : object) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const char *raw = field.key().raw();
        const int member = keyIs(raw, "time") ? Time : keyIs(raw, "code") ? Code : keyIs(raw, "attrs") ? Attrs : 0;
        if (!member)
            continue;
        if (seen & member)
            return "a member is named twice";
        seen |= member;
        od::value value = field.value();
        if (member == Time) {
            if (value.get_string().get(e.time))
                return "time is not a string";
        } else if (member == Code) {
            if (value.get_string().get(e.code))
                return "code is not a string";
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
    if (seen != (Time | Code | Attrs) || e.time.size() < 10 || e.code.empty())
        return "time, code or attrs missing";
    return nullptr;
}

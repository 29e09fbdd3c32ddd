#include "RecordLineReader.h"

#include "RecordIdentity.h"
#include "SimdjsonReading.h"

using namespace SimdjsonReading;

namespace {

// Indices past the protocol fields, for the bit of each member seen.
constexpr int SeqIndex = RecordFields::Count;
constexpr int AttrsIndex = RecordFields::Count + 1;

// Which member the raw key names; guess (where the member stands in a line
// as the log writes it) is tried first.
int memberIndex(const char *raw, int guess)
{
    if (guess < RecordFields::Count && keyIs(raw, RecordFields::names[guess]))
        return guess;
    if (keyIs(raw, RecordFields::Seq))
        return SeqIndex;
    if (keyIs(raw, RecordFields::Attrs))
        return AttrsIndex;
    for (int i = 0; i < RecordFields::Count; ++i)
        if (keyIs(raw, RecordFields::names[i]))
            return i;
    return -1;
}

std::string_view trimmed(std::string_view token)
{
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\n' || token.back() == '\r'))
        token.remove_suffix(1);
    return token;
}

// A protocol field's value: a string, or a scalar kept as written.
const char *readField(od::value value, std::string_view &text, bool &scalar)
{
    od::json_type type;
    if (value.type().get(type))
        return "broken JSON";
    scalar = type != od::json_type::string;
    switch (type) {
    case od::json_type::string:
        return value.get_string().get(text) ? "broken JSON" : nullptr;
    case od::json_type::number: {
        text = trimmed(value.raw_json_token());
        od::number number;
        return value.get_number().get(number) ? "broken JSON" : nullptr;
    }
    case od::json_type::boolean: {
        text = trimmed(value.raw_json_token());
        bool b;
        return value.get_bool().get(b) ? "broken JSON" : nullptr;
    }
    case od::json_type::null: {
        text = trimmed(value.raw_json_token());
        bool null = false;
        return value.is_null().get(null) || !null ? "broken JSON" : nullptr;
    }
    default:
        return "a field is not a string";
    }
}

} // namespace

struct RecordLineReader::Parser
{
    od::parser parser;
};

RecordLineReader::RecordLineReader() : m_parser(new Parser) {}

RecordLineReader::~RecordLineReader() = default;

const char *RecordLineReader::read(std::string_view line, LogRecord &record)
{
    const char *data = padded(m_copy, line);
    return read(data, line.size(), m_copy.size(), record);
}

const char *RecordLineReader::read(const char *data, size_t size, size_t capacity, LogRecord &r)
{
    r.line = std::string_view(data, size);
    for (std::string_view &f : r.fields)
        f = std::string_view();
    r.present = r.scalars = 0;
    r.seq = 0;
    r.attrs.clear();

    od::document doc;
    if (m_parser->parser.iterate(data, size, capacity).get(doc))
        return "not JSON";
    od::object object;
    if (doc.get_object().get(object))
        return "not a JSON object";
    uint32_t seen = 0;
    int position = 0;
    for (auto item : object) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const int index = memberIndex(field.key().raw(), position++);
        if (index < 0)
            continue;
        const uint32_t bit = uint32_t(1) << index;
        if (seen & bit)
            return "a field is named twice";
        seen |= bit;
        od::value value = field.value();
        if (index < RecordFields::Count) {
            bool scalar;
            if (const char *why = readField(value, r.fields[index], scalar))
                return why;
            if (scalar && index == RecordFields::Sessionid)
                return "sessionid is not a string";
            if (scalar)
                r.scalars |= bit;
        } else if (index == SeqIndex) {
            if (value.get_uint64().get(r.seq) || r.seq == 0 || r.seq > RecordIdentity::MaxSeq)
                return "seq is not a positive integer";
        } else if (const char *why = readAttrs(value, r.attrs)) {
            return why;
        }
    }
    if (textAfter(doc))
        return "text after the record";
    r.present = seen & (RecordFields::bit(RecordFields::Count) - 1);
    // A seq names a record only within its session.
    if ((seen & (uint32_t(1) << SeqIndex)) && r.has(RecordFields::Sessionid))
        return nullptr;
    if (!r.has(RecordFields::Fncode) || !r.has(RecordFields::Trigertime))
        return "no sessionid and seq, nor fncode and trigertime";
    r.seq = RecordIdentity::derivedSeq(r.line);
    return nullptr;
}

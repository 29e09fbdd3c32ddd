#include "RecordLineReader.h"

#include <cstring>

#include "RecordIdentity.h"
#include "SimdjsonReading.h"

using namespace SimdjsonReading;

namespace {

// Indices past the protocol fields, for the bit of each member seen.
constexpr int SeqIndex = RecordFields::Count;
constexpr int AttrsIndex = RecordFields::Count + 1;
constexpr int MemberCount = RecordFields::Count + 2;

// A member's raw key with its closing quote, and a mask of the bytes that
// count: any key is compared in two 8-byte words, whatever its length.
struct Key
{
    char text[16], mask[16];
};

constexpr Key key(std::string_view name)
{
    Key k{};
    for (size_t i = 0; i <= name.size(); ++i) {
        k.text[i] = i < name.size() ? name[i] : '"';
        k.mask[i] = char(0xff);
    }
    return k;
}

struct Keys
{
    Key of[MemberCount];
};

constexpr Keys makeKeys()
{
    Keys keys{};
    for (int i = 0; i < RecordFields::Count; ++i)
        keys.of[i] = key(RecordFields::names[i]);
    keys.of[SeqIndex] = key(RecordFields::Seq);
    keys.of[AttrsIndex] = key(RecordFields::Attrs);
    return keys;
}

constexpr bool keysFit()
{
    for (std::string_view name : RecordFields::names)
        if (name.size() >= sizeof Key::text)
            return false;
    return RecordFields::Seq.size() < sizeof Key::text && RecordFields::Attrs.size() < sizeof Key::text;
}
static_assert(keysFit(), "a member's name and its quote fit a Key");
static_assert(sizeof Key::text <= RecordLineReader::Padding, "a key's words lie within the padding");

constexpr Keys keys = makeKeys();

inline uint64_t word(const char *p)
{
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// raw lies in a padded buffer, so its 16 bytes are readable.
inline bool matches(const char *raw, const Key &k)
{
    return (((word(raw) ^ word(k.text)) & word(k.mask))
            | ((word(raw + 8) ^ word(k.text + 8)) & word(k.mask + 8))) == 0;
}

// Which member the raw key names; guess (the member after the last one, as
// the log writes them) is tried first.
int memberIndex(const char *raw, int guess)
{
    if (guess < MemberCount && matches(raw, keys.of[guess]))
        return guess;
    for (int i = 0; i < MemberCount; ++i)
        if (matches(raw, keys.of[i]))
            return i;
    return -1;
}

std::string_view trimmed(std::string_view token)
{
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\n' || token.back() == '\r'))
        token.remove_suffix(1);
    return token;
}

// A protocol field's value: a string, or a scalar kept as written. A string
// not wanted is unescaped only to check its escapes (escapes: whether the
// line has a backslash at all); the parser has checked the rest of it.
const char *readField(od::value value, bool wanted, bool escapes, std::string_view &text, bool &scalar)
{
    od::json_type type;
    if (value.type().get(type))
        return "broken JSON";
    scalar = type != od::json_type::string;
    switch (type) {
    case od::json_type::string:
        if (!wanted && (!escapes || value.raw_json_token().find('\\') == std::string_view::npos))
            return nullptr;
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

RecordLineReader::RecordLineReader(uint32_t fields) : m_fields(fields), m_parser(new Parser) {}

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
    const bool escapes = m_fields == RecordFields::all || std::memchr(data, '\\', size);
    uint32_t seen = 0;
    int next = 0;
    for (auto item : object) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const int index = memberIndex(field.key().raw(), next);
        if (index < 0)
            continue;
        next = index + 1;
        const uint32_t bit = uint32_t(1) << index;
        if (seen & bit)
            return "a field is named twice";
        seen |= bit;
        od::value value = field.value();
        if (index < RecordFields::Count) {
            const bool wanted = m_fields & bit;
            std::string_view unwanted;
            bool scalar;
            if (const char *why = readField(value, wanted, escapes, wanted ? r.fields[index] : unwanted, scalar))
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
    r.present = seen & RecordFields::all;
    // A seq names a record only within its session.
    if ((seen & (uint32_t(1) << SeqIndex)) && r.has(RecordFields::Sessionid))
        return nullptr;
    if (!r.has(RecordFields::Fncode) || !r.has(RecordFields::Trigertime))
        return "no sessionid and seq, nor fncode and trigertime";
    r.seq = RecordIdentity::derivedSeq(r.line);
    return nullptr;
}

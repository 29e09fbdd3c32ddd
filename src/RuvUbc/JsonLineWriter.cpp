#include "JsonLineWriter.h"
#include "SharedTextCache.h"

#include <JsonString.h>
#include <RecordFormat/RecordFields.h>
#include <RuvUbc.h>

#include <charconv>
#include <cstring>
#include <utility>

namespace {

// The opening of each field's value, ","name":" (or {"name":" for the
// first), all in one buffer, made from the field table when compiled. Each
// opening is copied as kOpeningCopy bytes, so the buffer runs on past the last.
constexpr int kOpeningCopy = 32;

constexpr int keysSize()
{
    int n = 0;
    for (std::string_view name : RecordFields::names)
        n += int(name.size()) + 6;
    return n;
}

struct Keys
{
    char text[keysSize() + kOpeningCopy] = {};
    int begin[RecordFields::Count] = {};
    int length[RecordFields::Count] = {};

    constexpr Keys()
    {
        int at = 0;
        for (int i = 0; i < RecordFields::Count; ++i) {
            begin[i] = at;
            if (i == 0) {
                text[at++] = '{';
            } else {
                text[at++] = '"';
                text[at++] = ',';
            }
            text[at++] = '"';
            for (char c : RecordFields::names[i])
                text[at++] = c;
            text[at++] = '"';
            text[at++] = ':';
            text[at++] = '"';
            length[i] = at - begin[i];
        }
    }
};
constexpr Keys kKeys;

constexpr int longestOpening()
{
    int n = 0;
    for (int length : kKeys.length)
        n = length > n ? length : n;
    return n;
}
static_assert(longestOpening() <= kOpeningCopy, "an opening is copied whole");

// The record's members in the table's order.
constexpr QString UbcDataProtocol::*kMembers[RecordFields::Count] = {
    &UbcDataProtocol::pcode, &UbcDataProtocol::fncode, &UbcDataProtocol::fnname,
    &UbcDataProtocol::fngroup, &UbcDataProtocol::trigertime, &UbcDataProtocol::gid,
    &UbcDataProtocol::vername, &UbcDataProtocol::ver, &UbcDataProtocol::ver2,
    &UbcDataProtocol::debug, &UbcDataProtocol::usetype, &UbcDataProtocol::utype,
    &UbcDataProtocol::mac, &UbcDataProtocol::hardwareid, &UbcDataProtocol::ip,
    &UbcDataProtocol::projectid, &UbcDataProtocol::prjfullpath, &UbcDataProtocol::prjtext,
    &UbcDataProtocol::prjedocnt, &UbcDataProtocol::prjsize, &UbcDataProtocol::prjcost,
    &UbcDataProtocol::regionrule, &UbcDataProtocol::major, &UbcDataProtocol::duration,
    &UbcDataProtocol::sessionid,
};
static_assert(JsonLineWriter::FieldCount == RecordFields::Count, "one field table");

constexpr char kSeqOpen[] = "\",\"seq\":";
constexpr char kAttrsOpen[] = ",\"attrs\":{";
constexpr int kMaxSeqDigits = 20; // a quint64

inline char *putRaw(char *p, const char *s, int n)
{
    std::memcpy(p, s, size_t(n));
    return p + n;
}

// Field I's opening and value. The fields are written by a fold over their
// indices, so that each opening's place and length are constants.
template <int I, typename Texts>
inline char *putField(char *p, const UbcDataProtocol &record, Texts &texts)
{
    // Sixteen bytes hold most openings: one store.
    std::memcpy(p, kKeys.text + kKeys.begin[I], kKeys.length[I] <= 16 ? 16 : kOpeningCopy);
    p += kKeys.length[I];
    const QString &value = record.*kMembers[I];
    return value.isEmpty() ? p : texts.put(I, p, value);
}

template <typename Texts, int... I>
inline char *putFields(char *p, const UbcDataProtocol &record, Texts &texts, std::integer_sequence<int, I...>)
{
    ((p = putField<I>(p, record, texts)), ...);
    return p;
}

// Every text escaped anew.
struct FreshTexts
{
    static char *put(int, char *p, const QString &s) { return JsonString::put(p, s); }
};

// Bytes of the line but its strings' contents, attrs.size() attributes, and
// the room that a whole copy (an opening, a cached text's last block) may
// write past the end.
constexpr qint64 frameSize(qint64 attrs)
{
    return keysSize() + qint64(sizeof(kSeqOpen)) + kMaxSeqDigits + qint64(sizeof(kAttrsOpen)) + 4 + 7 * attrs
           + kOpeningCopy;
}

// The record's strings' sizes, in units (perUnit 0: the exact bytes).
template <int perUnit, int... I>
qint64 contentSize(const UbcDataProtocol &record, std::integer_sequence<int, I...>)
{
    const auto size = [](const QString &s) { return perUnit ? qint64(s.size()) : JsonString::measure(s); };
    qint64 n = (size(record.*kMembers[I]) + ...);
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it)
        n += size(it.key()) + size(it.value());
    return perUnit ? perUnit * n : n;
}

constexpr auto kFieldIndices = std::make_integer_sequence<int, RecordFields::Count>();

// A QByteArray holds a little under 2 GiB.
constexpr qint64 kMaxLine = qint64(1) << 30;

template <typename Texts>
int writeLine(QByteArray &buffer, const UbcDataProtocol &record, quint64 seq, Texts &texts)
{
    // Upper bound first, so the writing goes through a plain pointer.
    const qint64 frame = frameSize(record.attrs.size());
    qint64 bound = frame + contentSize<JsonString::MaxBytesPerUnit>(record, kFieldIndices);
    if (bound > kMaxLine)
        bound = frame + contentSize<0>(record, kFieldIndices);
    if (bound > kMaxLine)
        return -1;
    if (buffer.size() < bound)
        buffer.resize(int(bound));

    char *const begin = buffer.data();
    char *p = putFields(begin, record, texts, kFieldIndices);
    p = putRaw(p, kSeqOpen, int(sizeof(kSeqOpen)) - 1);
    p = std::to_chars(p, p + kMaxSeqDigits, seq).ptr;
    p = putRaw(p, kAttrsOpen, int(sizeof(kAttrsOpen)) - 1);
    // The attributes' texts follow the fields' in the texts' slots.
    int slot = RecordFields::Count;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it) {
        if (slot != RecordFields::Count)
            *p++ = ',';
        *p++ = '"';
        p = texts.put(slot++, p, it.key());
        *p++ = '"';
        *p++ = ':';
        *p++ = '"';
        p = texts.put(slot++, p, it.value());
        *p++ = '"';
    }
    *p++ = '}';
    *p++ = '}';
    *p++ = '\n';
    return int(p - begin);
}

} // namespace

int JsonLineWriter::write(QByteArray &buffer, const UbcDataProtocol &record, quint64 seq)
{
    FreshTexts fresh;
    return writeLine(buffer, record, seq, fresh);
}

int JsonLineWriter::write(QByteArray &buffer, const UbcDataProtocol &record, quint64 seq, SharedTextCache &cache)
{
    return writeLine(buffer, record, seq, cache);
}

QString JsonLineWriter::fieldName(int index)
{
    if (index < 0 || index >= FieldCount)
        return QString();
    const std::string_view name = RecordFields::names[index];
    return QString::fromLatin1(name.data(), int(name.size()));
}

#include "JsonLineWriter.h"

#include <JsonString.h>
#include <RecordFormat/RecordFields.h>
#include <RuvUbc.h>

#include <cstring>

namespace {

// The opening of each field's value, ","name":" (or {"name":" for the
// first), all in one buffer, made from the field table when compiled.
constexpr int keysSize()
{
    int n = 0;
    for (std::string_view name : RecordFields::names)
        n += int(name.size()) + 6;
    return n;
}

struct Keys
{
    char text[keysSize()] = {};
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

// The record's members in the table's order.
QString UbcDataProtocol::*const kMembers[RecordFields::Count] = {
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

// Bytes of the line but its strings' contents, attrs.size() attributes.
constexpr qint64 frameSize(qint64 attrs)
{
    return keysSize() + qint64(sizeof(kSeqOpen)) + kMaxSeqDigits + qint64(sizeof(kAttrsOpen)) + 4 + 7 * attrs;
}

// The record's strings' sizes, in units (perUnit 0: the exact bytes).
template <int perUnit>
qint64 contentSize(const UbcDataProtocol &record)
{
    const auto size = [](const QString &s) { return perUnit ? qint64(s.size()) : JsonString::measure(s); };
    qint64 n = 0;
    for (int i = 0; i < RecordFields::Count; ++i)
        n += size(record.*kMembers[i]);
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it)
        n += size(it.key()) + size(it.value());
    return perUnit ? perUnit * n : n;
}

// A QByteArray holds a little under 2 GiB.
constexpr qint64 kMaxLine = qint64(1) << 30;

} // namespace

bool JsonLineWriter::write(QByteArray &out, const UbcDataProtocol &record, quint64 seq)
{
    // Upper bound first, so the loop writes through a plain pointer.
    const qint64 frame = frameSize(record.attrs.size());
    qint64 bound = frame + contentSize<JsonString::MaxBytesPerUnit>(record);
    if (bound > kMaxLine)
        bound = frame + contentSize<0>(record);
    if (bound > kMaxLine) {
        out.clear();
        return false;
    }
    out.resize(int(bound));

    char *const begin = out.data();
    char *p = begin;
    // The openings of empty fields follow one another in kKeys.text as in
    // the line: each run of them is copied at once.
    int keysAt = 0, keysLength = 0;
    for (int i = 0; i < RecordFields::Count; ++i) {
        if (!keysLength)
            keysAt = kKeys.begin[i];
        keysLength += kKeys.length[i];
        const QString &value = record.*kMembers[i];
        if (!value.isEmpty()) {
            p = putRaw(p, kKeys.text + keysAt, keysLength);
            keysLength = 0;
            p = JsonString::put(p, value);
        }
    }
    p = putRaw(p, kKeys.text + keysAt, keysLength);
    p = putRaw(p, kSeqOpen, int(sizeof(kSeqOpen)) - 1);
    char digits[kMaxSeqDigits];
    int n = 0;
    do {
        digits[n++] = char('0' + seq % 10);
        seq /= 10;
    } while (seq);
    while (n)
        *p++ = digits[--n];
    p = putRaw(p, kAttrsOpen, int(sizeof(kAttrsOpen)) - 1);
    bool first = true;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it) {
        if (!first)
            *p++ = ',';
        first = false;
        *p++ = '"';
        p = JsonString::put(p, it.key());
        *p++ = '"';
        *p++ = ':';
        *p++ = '"';
        p = JsonString::put(p, it.value());
        *p++ = '"';
    }
    *p++ = '}';
    *p++ = '}';
    *p++ = '\n';
    out.resize(int(p - begin));
    return true;
}

QString JsonLineWriter::fieldName(int index)
{
    if (index < 0 || index >= FieldCount)
        return QString();
    const std::string_view name = RecordFields::names[index];
    return QString::fromLatin1(name.data(), int(name.size()));
}

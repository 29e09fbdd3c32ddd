#include "JsonLineWriter.h"
#include "SharedTextCache.h"

#include <JsonString.h>
#include <RecordFormat/RecordFields.h>
#include <RuvUbc.h>

#include <charconv>
#include <cstddef>
#include <cstring>
#include <type_traits>
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
static_assert(SharedTextCache::Overrun < kOpeningCopy, "a kept text's last copy fits in the room past the end");

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

// The command's code, name and group, between the fields before and after.
constexpr int kFirstName = SharedTextCache::FirstName;
constexpr int kAfterNames = kFirstName + SharedTextCache::NameFields;
static_assert(std::is_standard_layout_v<UbcDataProtocol>
                  && offsetof(UbcDataProtocol, fnname) == offsetof(UbcDataProtocol, fncode) + sizeof(QString)
                  && offsetof(UbcDataProtocol, fngroup) == offsetof(UbcDataProtocol, fnname) + sizeof(QString),
              "the names are read as three QStrings in a row");

constexpr char kSeqOpen[] = "\",\"seq\":";
constexpr char kAttrsOpen[] = ",\"attrs\":{";
constexpr int kMaxSeqDigits = 20; // a quint64

inline char *putRaw(char *p, const char *s, int n)
{
    std::memcpy(p, s, size_t(n));
    return p + n;
}

// Field I's opening and value, unless a matched run gives them. The fields
// are written by a fold over their indices, so that each opening's place and
// length are constants.
template <int I, typename Texts, typename Match>
inline char *putField(char *p, quint32 fields, const UbcDataProtocol &record, Texts &texts, const Match &match)
{
    if (!(fields & (quint32(1) << I)))
        return p;
    if (match.starts & (quint32(1) << I)) {
        if constexpr (I == kFirstName)
            return texts.putCommand(match, p);
        else
            return texts.putRun(I, p);
    }
    // Sixteen bytes hold most openings: one store.
    std::memcpy(p, kKeys.text + kKeys.begin[I], kKeys.length[I] <= 16 ? 16 : kOpeningCopy);
    p += kKeys.length[I];
    const QString &value = record.*kMembers[I];
    if (value.isEmpty()) {
        texts.putEmpty(I, value);
        return p;
    }
    return texts.put(I, p, value);
}

// Those of fields in [First, First + sizeof...(I)), none tested when there
// are none: most of a record's fields lie inside one run.
template <int First, typename Texts, typename Match, int... I>
Q_ALWAYS_INLINE char *putFields(char *p, quint32 fields, const UbcDataProtocol &record, Texts &texts,
                                const Match &match, std::integer_sequence<int, I...>)
{
    constexpr quint32 mask = ((quint32(1) << sizeof...(I)) - 1) << First;
    if (fields & mask)
        ((p = putField<First + I>(p, fields, record, texts, match)), ...);
    return p;
}

// Those of fields in [First, End), in groups of five.
template <int First, int End, typename Texts, typename Match>
Q_ALWAYS_INLINE char *putGroups(char *p, quint32 fields, const UbcDataProtocol &record, Texts &texts,
                                const Match &match)
{
    constexpr int n = End - First < 5 ? End - First : 5;
    p = putFields<First>(p, fields, record, texts, match, std::make_integer_sequence<int, n>());
    if constexpr (First + n < End)
        p = putGroups<First + n, End>(p, fields, record, texts, match);
    return p;
}

// Fields [first, end) written anew, openings copied exactly.
char *putFieldRange(char *p, const UbcDataProtocol &record, int first, int end)
{
    for (int i = first; i < end; ++i) {
        p = putRaw(p, kKeys.text + kKeys.begin[i], kKeys.length[i]);
        p = JsonString::put(p, record.*kMembers[i]);
    }
    return p;
}

// Every text escaped anew.
struct FreshTexts
{
    quint64 seq = 0;

    struct Match
    {
        static constexpr quint32 starts = 0;
        static constexpr quint32 inside = 0;
        static constexpr qint64 bytes = 0;
        static constexpr quint32 covered() { return 0; }
    };
    static Match matchRuns(const void *, const QString *) { return {}; }
    static char *putRun(int, char *p) { return p; }
    static char *putCommand(const Match &, char *p) { return p; }
    static int matchAttrs(const QMap<QString, QString> &) { return -1; }
    static char *putAttrs(char *p) { return p; }
    static void endAttrs(const QMap<QString, QString> &, const char *, const char *) {}
    static void endNames(const Match &, const QString *, const char *, const char *) {}
    static void putEmpty(int, const QString &) {}
    static char *put(int, char *p, const QString &s) { return JsonString::put(p, s); }
    char *putSeq(char *p) const { return std::to_chars(p, p + kMaxSeqDigits, seq).ptr; }
    template <typename... Any>
    static void endRecord(const Any &...)
    {
    }
};

// Bytes of the line but the unmatched fields' contents and the attributes,
// with the room that a whole copy (an opening, a cached text's last block, a
// seq) may write past the end.
constexpr qint64 kFrameSize = keysSize() + qint64(sizeof(kSeqOpen)) - 1 + kMaxSeqDigits + qint64(sizeof(kAttrsOpen)) - 1
                              + 3 /* }}\n */ + kOpeningCopy;

// The unmatched fields' sizes in units (perUnit 0: their exact bytes).
template <int perUnit>
qint64 contentSize(const UbcDataProtocol &record, quint32 covered)
{
    qint64 n = 0;
    for (quint32 left = ~covered & RecordFields::all; left; left &= left - 1) {
        const QString &s = record.*kMembers[qCountTrailingZeroBits(left)];
        n += perUnit ? qint64(s.size()) : JsonString::measure(s);
    }
    return perUnit ? perUnit * n : n;
}

// A QByteArray holds a little under 2 GiB.
constexpr qint64 kMaxLine = qint64(1) << 30;

// Makes room for need more bytes at p, the line so far before it, when end
// (the buffer's end) is too close; returns where p is now, or null when the
// line would be too large.
inline char *makeRoom(QByteArray &buffer, char *&end, char *p, qint64 need)
{
    if (end - p >= need)
        return p;
    const qint64 at = p - buffer.constData();
    if (at + need > kMaxLine)
        return nullptr;
    buffer.resize(int(qMin(kMaxLine, qMax(at + need, 2 * qint64(buffer.size())))));
    end = buffer.data() + buffer.size();
    return buffer.data() + at;
}

// The attributes' keys and values at p, in the texts' slots after the
// fields'; returns the end, or null when the line would be too large. Each
// makes its own room: with its quotes, colon and comma, and a whole copy's
// overrun.
template <typename Texts>
char *putAttrs(QByteArray &buffer, char *&end, char *p, const QMap<QString, QString> &attrs, Texts &texts)
{
    int slot = RecordFields::Count;
    for (auto it = attrs.cbegin(); it != attrs.cend(); ++it) {
        const QString &key = it.key(), &value = it.value();
        qint64 need = JsonString::MaxBytesPerUnit * (qint64(key.size()) + value.size());
        if (need > kMaxLine)
            need = JsonString::measure(key) + JsonString::measure(value);
        if (!(p = makeRoom(buffer, end, p, need + 6 + 3 + kOpeningCopy)))
            return nullptr;
        if (slot != RecordFields::Count)
            *p++ = ',';
        *p++ = '"';
        p = texts.put(slot++, p, key);
        *p++ = '"';
        *p++ = ':';
        *p++ = '"';
        p = texts.put(slot++, p, value);
        *p++ = '"';
    }
    return p;
}

template <typename Texts>
int writeLine(QByteArray &buffer, const UbcDataProtocol &record, Texts &texts, int *seqAt)
{
    // Room for the fields, the seq and the attributes' braces first, so that
    // the fields go through a plain pointer.
    const QString *const names = &(record.*kMembers[kFirstName]);
    const auto match = texts.matchRuns(&record, names);
    qint64 bound = kFrameSize + match.bytes + contentSize<JsonString::MaxBytesPerUnit>(record, match.covered());
    if (bound > kMaxLine)
        bound = kFrameSize + match.bytes + contentSize<0>(record, match.covered());
    if (bound > kMaxLine)
        return -1;
    if (buffer.size() < bound)
        buffer.resize(int(bound));

    char *p = buffer.data();
    char *end = p + buffer.size();
    // Every field but those inside a matched run.
    const quint32 fields = match.starts | (~match.covered() & RecordFields::all);
    p = putGroups<0, kFirstName>(p, fields, record, texts, match);
    char *const namesBegin = p;
    p = putGroups<kFirstName, kAfterNames>(p, fields, record, texts, match);
    texts.endNames(match, names, namesBegin, p);
    p = putGroups<kAfterNames, RecordFields::Count>(p, fields, record, texts, match);
    p = putRaw(p, kSeqOpen, int(sizeof(kSeqOpen)) - 1);
    *seqAt = int(p - buffer.constData());
    p = texts.putSeq(p);
    p = putRaw(p, kAttrsOpen, int(sizeof(kAttrsOpen)) - 1);
    if (const int kept = texts.matchAttrs(record.attrs); kept >= 0) {
        if (!(p = makeRoom(buffer, end, p, kept + 3 + kOpeningCopy)))
            return -1;
        p = texts.putAttrs(p);
    } else {
        const qint64 attrsAt = p - buffer.constData();
        if (!(p = putAttrs(buffer, end, p, record.attrs, texts)))
            return -1;
        texts.endAttrs(record.attrs, buffer.constData() + attrsAt, p);
    }
    *p++ = '}';
    *p++ = '}';
    *p++ = '\n';
    texts.endRecord(
        &record, match, [&record](int i) -> const QString & { return record.*kMembers[i]; },
        [&record](int first, int end, char *at) { return putFieldRange(at, record, first, end); });
    return int(p - buffer.constData());
}

} // namespace

int JsonLineWriter::write(QByteArray &buffer, const UbcDataProtocol &record, quint64 seq)
{
    FreshTexts fresh{seq};
    int seqAt = 0;
    return writeLine(buffer, record, fresh, &seqAt);
}

int JsonLineWriter::write(QByteArray &buffer, const UbcDataProtocol &record, SharedTextCache &cache, int *seqAt)
{
    return writeLine(buffer, record, cache, seqAt);
}

int JsonLineWriter::changeSeq(QByteArray &buffer, int size, int seqAt, quint64 seq, SharedTextCache &cache)
{
    const int was = cache.seqDigits();
    cache.setSeq(seq);
    const int now = cache.seqDigits();
    if (buffer.size() < size + now - was)
        buffer.resize(size + now - was);
    char *const p = buffer.data() + seqAt;
    std::memmove(p + now, p + was, size_t(size - seqAt - was));
    std::memcpy(p, cache.seqText(), size_t(now));
    return size + now - was;
}

QString JsonLineWriter::fieldName(int index)
{
    if (index < 0 || index >= FieldCount)
        return QString();
    const std::string_view name = RecordFields::names[index];
    return QString::fromLatin1(name.data(), int(name.size()));
}

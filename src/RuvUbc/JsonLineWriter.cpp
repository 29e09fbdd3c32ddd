#include "JsonLineWriter.h"

#include <JsonString.h>
#include <RuvUbc.h>

#include <cstring>

namespace {

struct Field
{
    const char *name;
    const char *key; // ","name":"  closing the value before; {"pcode":" first
    int keySize;
    QString UbcDataProtocol::*member;
};

// The arguments are pasted into string literals and a member name, where
// parentheses cannot go.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KEY(open, name) { #name, open #name "\":\"", int(sizeof(open #name "\":\"")) - 1, &UbcDataProtocol::name }
const Field kFields[JsonLineWriter::FieldCount] = {
    KEY("{\"", pcode), KEY("\",\"", fncode), KEY("\",\"", fnname), KEY("\",\"", fngroup),
    KEY("\",\"", trigertime), KEY("\",\"", gid), KEY("\",\"", vername), KEY("\",\"", ver),
    KEY("\",\"", ver2), KEY("\",\"", debug), KEY("\",\"", usetype), KEY("\",\"", utype),
    KEY("\",\"", mac), KEY("\",\"", hardwareid), KEY("\",\"", ip), KEY("\",\"", projectid),
    KEY("\",\"", prjfullpath), KEY("\",\"", prjtext), KEY("\",\"", prjedocnt), KEY("\",\"", prjsize),
    KEY("\",\"", prjcost), KEY("\",\"", regionrule), KEY("\",\"", major), KEY("\",\"", duration),
    KEY("\",\"", sessionid),
};
#undef KEY

constexpr char kSeqOpen[] = "\",\"seq\":";
constexpr char kAttrsOpen[] = ",\"attrs\":{";
constexpr int kMaxSeqDigits = 20; // a quint64

inline char *putRaw(char *p, const char *s, int n)
{
    std::memcpy(p, s, size_t(n));
    return p + n;
}

qint64 lineSize(const UbcDataProtocol &record, int perUnit)
{
    qint64 size = qint64(sizeof(kSeqOpen)) + kMaxSeqDigits + qint64(sizeof(kAttrsOpen)) + 4;
    for (const Field &f : kFields) {
        const QString &s = record.*f.member;
        size += f.keySize + (perUnit ? qint64(perUnit) * s.size() : JsonString::measure(s));
    }
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it) {
        size += 7;
        size += perUnit ? qint64(perUnit) * (it.key().size() + it.value().size())
                        : JsonString::measure(it.key()) + JsonString::measure(it.value());
    }
    return size;
}

// A QByteArray holds a little under 2 GiB.
constexpr qint64 kMaxLine = qint64(1) << 30;

} // namespace

bool JsonLineWriter::write(QByteArray &out, const UbcDataProtocol &record, quint64 seq)
{
    // Upper bound first, so the loop writes through a plain pointer.
    qint64 bound = lineSize(record, JsonString::MaxBytesPerUnit);
    if (bound > kMaxLine)
        bound = lineSize(record, 0);
    if (bound > kMaxLine) {
        out.clear();
        return false;
    }
    out.resize(int(bound));

    char *const begin = out.data();
    char *p = begin;
    for (const Field &f : kFields) {
        p = putRaw(p, f.key, f.keySize);
        p = JsonString::put(p, record.*f.member);
    }
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
    return QString::fromLatin1(kFields[index].name);
}

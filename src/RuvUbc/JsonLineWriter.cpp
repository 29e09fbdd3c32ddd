#include "JsonLineWriter.h"

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

constexpr char kAttrsOpen[] = "\",\"attrs\":{";
constexpr char kHex[] = "0123456789abcdef";

// For ASCII: 0 = copy as is, 'u' = \u00XX, anything else = backslash + that.
struct EscapeTable
{
    char e[128] = {};
    constexpr EscapeTable()
    {
        for (int c = 0; c < 0x20; ++c)
            e[c] = 'u';
        e[int('\b')] = 'b';
        e[int('\f')] = 'f';
        e[int('\n')] = 'n';
        e[int('\r')] = 'r';
        e[int('\t')] = 't';
        e[int('"')] = '"';
        e[int('\\')] = '\\';
    }
};
constexpr EscapeTable kEscape;

inline char *putRaw(char *p, const char *s, int n)
{
    std::memcpy(p, s, size_t(n));
    return p + n;
}

inline char *putUnitEscape(char *p, ushort c)
{
    *p++ = '\\';
    *p++ = 'u';
    *p++ = kHex[(c >> 12) & 0xf];
    *p++ = kHex[(c >> 8) & 0xf];
    *p++ = kHex[(c >> 4) & 0xf];
    *p++ = kHex[c & 0xf];
    return p;
}

// Writes the string's content (no quotes); at most 6 bytes per UTF-16 unit.
char *putString(char *p, const QString &s)
{
    const ushort *u = s.utf16();
    const int n = s.size();
    for (int i = 0; i < n; ++i) {
        const ushort c = u[i];
        if (c < 0x80) {
            const char e = kEscape.e[c];
            if (!e) {
                *p++ = char(c);
            } else if (e == 'u') {
                p = putUnitEscape(p, c);
            } else {
                *p++ = '\\';
                *p++ = e;
            }
        } else if (c < 0x800) {
            *p++ = char(0xc0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3f));
        } else if (c != 0xfeff && (c < 0xd800 || c > 0xdfff)) {
            *p++ = char(0xe0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3f));
            *p++ = char(0x80 | (c & 0x3f));
        } else if (c < 0xdc00 && i + 1 < n && u[i + 1] >= 0xdc00 && u[i + 1] <= 0xdfff) {
            const uint cp = 0x10000 + ((uint(c) - 0xd800) << 10) + (uint(u[i + 1]) - 0xdc00);
            ++i;
            *p++ = char(0xf0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3f));
            *p++ = char(0x80 | ((cp >> 6) & 0x3f));
            *p++ = char(0x80 | (cp & 0x3f));
        } else {
            // A lone surrogate has no UTF-8 form; the escape keeps the line
            // valid and lets a lenient parser restore the unit. U+FEFF is
            // escaped too: Qt's JSON reader drops it raw at a string's start.
            p = putUnitEscape(p, c);
        }
    }
    return p;
}

// The exact size putString writes; only for records too big for the bound.
qint64 measureString(const QString &s)
{
    const ushort *u = s.utf16();
    const int n = s.size();
    qint64 size = 0;
    for (int i = 0; i < n; ++i) {
        const ushort c = u[i];
        if (c < 0x80)
            size += !kEscape.e[c] ? 1 : kEscape.e[c] == 'u' ? 6 : 2;
        else if (c < 0x800)
            size += 2;
        else if (c != 0xfeff && (c < 0xd800 || c > 0xdfff))
            size += 3;
        else if (c < 0xdc00 && i + 1 < n && u[i + 1] >= 0xdc00 && u[i + 1] <= 0xdfff)
            size += 4, ++i;
        else
            size += 6;
    }
    return size;
}

qint64 lineSize(const UbcDataProtocol &record, int perUnit)
{
    qint64 size = qint64(sizeof(kAttrsOpen)) + 4;
    for (const Field &f : kFields) {
        const QString &s = record.*f.member;
        size += f.keySize + (perUnit ? qint64(perUnit) * s.size() : measureString(s));
    }
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it) {
        size += 7;
        size += perUnit ? qint64(perUnit) * (it.key().size() + it.value().size())
                        : measureString(it.key()) + measureString(it.value());
    }
    return size;
}

// A QByteArray holds a little under 2 GiB.
constexpr qint64 kMaxLine = qint64(1) << 30;

} // namespace

bool JsonLineWriter::write(QByteArray &out, const UbcDataProtocol &record)
{
    // Upper bound first, so the loop writes through a plain pointer.
    qint64 bound = lineSize(record, 6);
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
        p = putString(p, record.*f.member);
    }
    p = putRaw(p, kAttrsOpen, int(sizeof(kAttrsOpen)) - 1);
    bool first = true;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it) {
        if (!first)
            *p++ = ',';
        first = false;
        *p++ = '"';
        p = putString(p, it.key());
        *p++ = '"';
        *p++ = ':';
        *p++ = '"';
        p = putString(p, it.value());
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

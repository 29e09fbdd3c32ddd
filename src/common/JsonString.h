#ifndef KELUBC_JSONSTRING_H
#define KELUBC_JSONSTRING_H

// JSON string content as the package's JSON lines write it: UTF-8, control
// characters, quote and backslash escaped, U+FFFD for a lone surrogate. Private to the libraries that include it; header-only so that each
// keeps its own hidden copy.

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace JsonString {

// put() writes at most this many bytes per UTF-16 unit.
constexpr int MaxBytesPerUnit = 6;

namespace detail {

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

inline bool isPairAt(const ushort *u, int i, int n)
{
    return u[i] >= 0xd800 && u[i] < 0xdc00 && i + 1 < n && u[i + 1] >= 0xdc00 && u[i + 1] <= 0xdfff;
}

// Units other than three raw bytes: a surrogate (a pair is four bytes, a lone
// one has no UTF-8 form and strict readers refuse its \u escape, so it becomes
// U+FFFD) and U+FEFF, escaped (Qt's JSON reader drops it raw at a string's start).
inline bool isSpecialUnit(ushort c) { return c == 0xfeff || (c >= 0xd800 && c <= 0xdfff); }

inline char *putReplacement(char *p)
{
    *p++ = char(0xef);
    *p++ = char(0xbf);
    *p++ = char(0xbd);
    return p;
}

// The string's UTF-16 units. constData(), not utf16(): Qt 6 copies a
// literal's data on utf16() to end it with a NUL.
inline const ushort *units(const QString &s) { return reinterpret_cast<const ushort *>(s.constData()); }

} // namespace detail

// Writes the string's content (no quotes) at p; returns the end.
inline char *put(char *p, const QString &s)
{
    using namespace detail;
    const ushort *u = units(s);
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
        } else if (!isSpecialUnit(c)) {
            *p++ = char(0xe0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3f));
            *p++ = char(0x80 | (c & 0x3f));
        } else if (isPairAt(u, i, n)) {
            const uint cp = 0x10000 + ((uint(c) - 0xd800) << 10) + (uint(u[i + 1]) - 0xdc00);
            ++i;
            *p++ = char(0xf0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3f));
            *p++ = char(0x80 | ((cp >> 6) & 0x3f));
            *p++ = char(0x80 | (cp & 0x3f));
        } else if (c == 0xfeff) {
            p = putUnitEscape(p, c);
        } else {
            p = putReplacement(p);
        }
    }
    return p;
}

// The exact number of bytes put() writes.
inline qint64 measure(const QString &s)
{
    using namespace detail;
    const ushort *u = units(s);
    const int n = s.size();
    qint64 size = 0;
    for (int i = 0; i < n; ++i) {
        const ushort c = u[i];
        if (c < 0x80)
            size += !kEscape.e[c] ? 1 : kEscape.e[c] == 'u' ? 6 : 2;
        else if (c < 0x800)
            size += 2;
        else if (!isSpecialUnit(c))
            size += 3;
        else if (isPairAt(u, i, n))
            size += 4, ++i;
        else
            size += c == 0xfeff ? 6 : 3;
    }
    return size;
}

// Appends the string, quotes included.
inline void append(QByteArray &out, const QString &s)
{
    const int at = out.size();
    out.resize(at + int(measure(s)) + 2);
    char *p = out.data() + at;
    *p++ = '"';
    p = put(p, s);
    *p = '"';
}

} // namespace JsonString

#endif // KELUBC_JSONSTRING_H

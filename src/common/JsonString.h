#ifndef KELUBC_JSONSTRING_H
#define KELUBC_JSONSTRING_H

// JSON string content as the package's JSON lines write it: UTF-8, control
// characters, quote and backslash escaped, U+FFFD for a lone surrogate. Private to the libraries that include it; header-only so that each
// keeps its own hidden copy.

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QtAlgorithms>

#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KELUBC_JSONSTRING_SSE2 1
#endif

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

#ifdef KELUBC_JSONSTRING_SSE2
// Eight units as bytes, saturated: 0x80..0xff stay, units above become 0xff
// and those from 0x8000 up 0x00. Bytes 8..15 repeat them.
inline __m128i packed(__m128i v) { return _mm_packus_epi16(v, v); }

// 0xff for each packed byte that is not plain, printable ASCII that needs no
// escape: a control, 0x80 and up (below 0x20 to a signed compare), the quote
// and the backslash.
inline __m128i notPlain(__m128i bytes)
{
    const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
    return _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), escaped);
}

// How many of the eight packed units, from the first, are plain.
inline int plainLead(__m128i bytes)
{
    return int(qCountTrailingZeroBits(quint32(_mm_movemask_epi8(notPlain(bytes))) | 0x100u));
}

inline __m128i load8(const ushort *u) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(u)); }
inline __m128i load4(const ushort *u) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)); }
inline void store8(char *p, __m128i bytes) { _mm_storel_epi64(reinterpret_cast<__m128i *>(p), bytes); }
inline void store4(char *p, __m128i bytes)
{
    const int four = _mm_cvtsi128_si32(bytes);
    std::memcpy(p, &four, 4);
}

// Stores a block of K packed units at p and moves p and i past its plain
// ones; true when all were. The block is stored whole even when fewer are
// plain: every unit writes at least a byte, so the bytes lie within what the
// block's units write and are written over.
template <int K>
inline bool takePlain(char *&p, int &i, __m128i bytes)
{
    if (K == 8)
        store8(p, bytes);
    else
        store4(p, bytes);
    const int plain = plainLead(bytes);
    i += plain;
    p += plain;
    return plain == K;
}

// Copies the plain units from u[i] on, eight or four at a time, and stops
// after the plain ones before another unit.
inline char *putPlainRun(char *p, const ushort *u, int &i, int n)
{
    while (i + 8 <= n) {
        if (!takePlain<8>(p, i, packed(load8(u + i))))
            return p;
    }
    // The four units above a load4 are zero: not plain.
    if (i + 4 <= n && !takePlain<4>(p, i, packed(load4(u + i))))
        return p;
    // Up to three left: the last four units again, when all are plain; those
    // already written then took a byte each.
    if (i < n && n >= 4) {
        const __m128i v = packed(load4(u + n - 4));
        if (plainLead(v) == 4) {
            store4(p - (i - (n - 4)), v);
            p += n - i;
            i = n;
        }
    }
    return p;
}
#endif

// Writes u[i..n): plain ASCII by blocks where at least four units are left,
// every other unit on its own.
inline char *putFrom(char *p, const ushort *u, int i, int n)
{
    while (i < n) {
        const ushort c = u[i];
        if (c < 0x80) {
            const char e = kEscape.e[c];
            if (!e) {
#ifdef KELUBC_JSONSTRING_SSE2
                // This unit is plain, so the run takes one at least.
                if (i + 4 <= n) {
                    p = putPlainRun(p, u, i, n);
                    continue;
                }
#endif
                *p++ = char(c);
            } else if (e == 'u') {
                p = putUnitEscape(p, c);
            } else {
                *p++ = '\\';
                *p++ = e;
            }
        } else if (c >= 0x800 && !isSpecialUnit(c)) {
            // Three bytes: most non-ASCII text (CJK) is tested for first,
            // and its units mostly follow each other.
            ushort next = c;
            do {
                p[0] = char(0xe0 | (next >> 12));
                p[1] = char(0x80 | ((next >> 6) & 0x3f));
                p[2] = char(0x80 | (next & 0x3f));
                p += 3;
                if (++i == n)
                    return p;
                next = u[i];
            } while (next >= 0x800 && !isSpecialUnit(next));
            continue;
        } else if (c < 0x800) {
            *p++ = char(0xc0 | (c >> 6));
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
        ++i;
    }
    return p;
}

} // namespace detail

// Writes the string's content (no quotes) at p; returns the end.
inline char *put(char *p, const QString &s)
{
    using namespace detail;
    const ushort *u = units(s);
    const int n = s.size();
#ifdef KELUBC_JSONSTRING_SSE2
    // Most texts are plain ASCII: they are tried whole first, every block
    // stored and one test at the end. Blocks a unit of another kind spoils
    // are written again by the unit.
    if (n >= 16) {
        // Sixteen units a step, packed into one register.
        __m128i spoilt = _mm_setzero_si128();
        for (int i = 0; i + 16 < n; i += 16) {
            const __m128i bytes = _mm_packus_epi16(load8(u + i), load8(u + i + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + i), bytes);
            spoilt = _mm_or_si128(spoilt, notPlain(bytes));
        }
        // The last sixteen, over those already written.
        const __m128i last = _mm_packus_epi16(load8(u + n - 16), load8(u + n - 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + n - 16), last);
        if (!_mm_movemask_epi8(_mm_or_si128(spoilt, notPlain(last))))
            return p + n;
    } else if (n >= 8) {
        // The first eight and the last eight, overlapping.
        const __m128i first = packed(load8(u)), last = packed(load8(u + n - 8));
        if (!_mm_movemask_epi8(_mm_or_si128(notPlain(first), notPlain(last)))) {
            store8(p, first);
            store8(p + n - 8, last);
            return p + n;
        }
    } else if (n >= 4) {
        // The first four and the last four, overlapping; the bytes above
        // them are zeros, not looked at.
        const __m128i first = packed(load4(u)), last = packed(load4(u + n - 4));
        if (!(_mm_movemask_epi8(_mm_or_si128(notPlain(first), notPlain(last))) & 0xf)) {
            store4(p, first);
            store4(p + n - 4, last);
            return p + n;
        }
    }
#endif
    return putFrom(p, u, 0, n);
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

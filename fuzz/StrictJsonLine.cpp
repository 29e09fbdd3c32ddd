#include "StrictJsonLine.h"

bool StrictJsonLine::fail(const char *what)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 at byte %2").arg(QLatin1String(what)).arg(m_end - m_p);
    return false;
}

void StrictJsonLine::skipSpace()
{
    while (m_p < m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
        ++m_p;
}

bool StrictJsonLine::expect(char c)
{
    skipSpace();
    if (m_p >= m_end || *m_p != c)
        return fail("unexpected byte");
    ++m_p;
    return true;
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool StrictJsonLine::readString(QString *out)
{
    if (!expect('"'))
        return false;
    out->clear();
    while (m_p < m_end) {
        const unsigned char b = static_cast<unsigned char>(*m_p++);
        if (b == '"')
            return true;
        if (b < 0x20)
            return fail("raw control character");
        if (b == '\\') {
            if (m_p >= m_end)
                return fail("cut escape");
            const char e = *m_p++;
            switch (e) {
            case '"': out->append(QLatin1Char('"')); break;
            case '\\': out->append(QLatin1Char('\\')); break;
            case '/': out->append(QLatin1Char('/')); break;
            case 'b': out->append(QLatin1Char('\b')); break;
            case 'f': out->append(QLatin1Char('\f')); break;
            case 'n': out->append(QLatin1Char('\n')); break;
            case 'r': out->append(QLatin1Char('\r')); break;
            case 't': out->append(QLatin1Char('\t')); break;
            case 'u': {
                if (m_end - m_p < 4)
                    return fail("cut \\u escape");
                int unit = 0;
                for (int k = 0; k < 4; ++k) {
                    const int h = hexValue(*m_p++);
                    if (h < 0)
                        return fail("bad hex digit");
                    unit = unit << 4 | h;
                }
                // What jq and other strict readers refuse; the writer never needs it.
                if (unit >= 0xd800 && unit <= 0xdfff)
                    return fail("surrogate escape");
                out->append(QChar(ushort(unit)));
                break;
            }
            default:
                return fail("unknown escape");
            }
            continue;
        }
        if (b < 0x80) {
            out->append(QChar(ushort(b)));
            continue;
        }
        int need;
        uint cp;
        uint min;
        if ((b & 0xe0) == 0xc0)
            need = 1, cp = b & 0x1f, min = 0x80;
        else if ((b & 0xf0) == 0xe0)
            need = 2, cp = b & 0x0f, min = 0x800;
        else if ((b & 0xf8) == 0xf0)
            need = 3, cp = b & 0x07, min = 0x10000;
        else
            return fail("bad UTF-8 lead byte");
        if (m_end - m_p < need)
            return fail("cut UTF-8 sequence");
        for (int k = 0; k < need; ++k) {
            const unsigned char c = static_cast<unsigned char>(*m_p++);
            if ((c & 0xc0) != 0x80)
                return fail("bad UTF-8 continuation");
            cp = cp << 6 | (c & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return fail("overlong, surrogate or out-of-range UTF-8");
        if (cp >= 0x10000) {
            out->append(QChar(QChar::highSurrogate(cp)));
            out->append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out->append(QChar(ushort(cp)));
        }
    }
    return fail("unterminated string");
}

bool StrictJsonLine::readMembers(Members *out, Members *attrs, bool top)
{
    if (!expect('{'))
        return false;
    skipSpace();
    if (m_p < m_end && *m_p == '}') {
        ++m_p;
        return true;
    }
    for (;;) {
        QString key;
        QString value;
        if (!readString(&key) || !expect(':'))
            return false;
        skipSpace();
        if (top && m_p < m_end && *m_p == '{') {
            if (key != QLatin1String("attrs") || m_sawAttrs)
                return fail("unexpected object");
            m_sawAttrs = true;
            if (!readMembers(attrs, nullptr, false))
                return false;
        } else if (top && key == QLatin1String("seq")) {
            // The record's number: plain decimal digits, no sign, no leading zero.
            const char *start = m_p;
            while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
            if (m_p == start || m_p - start > 20 || (*start == '0' && m_p - start > 1))
                return fail("bad seq number");
            out->append({key, QString::fromLatin1(start, int(m_p - start))});
        } else {
            if (!readString(&value))
                return false;
            out->append({key, value});
        }
        skipSpace();
        if (m_p < m_end && *m_p == ',') {
            ++m_p;
            continue;
        }
        return expect('}');
    }
}

bool StrictJsonLine::parse(const QByteArray &json, Members *fields, Members *attrs)
{
    m_p = json.constData();
    m_end = m_p + json.size();
    m_error.clear();
    m_sawAttrs = false;
    fields->clear();
    attrs->clear();
    if (!readMembers(fields, attrs, true))
        return false;
    skipSpace();
    return m_p == m_end || fail("text after the object");
}

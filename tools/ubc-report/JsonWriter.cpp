#include "JsonWriter.h"

#include <QtCore/QLocale>
#include <QtCore/QStringView>

#include <cmath>
#include <cstring>

JsonWriter::JsonWriter(QByteArray *out) : m_out(out)
{
}

void JsonWriter::beforeValue()
{
    if (m_afterKey) {               // the key wrote the separator and the indent
        m_afterKey = false;
        return;
    }
    if (m_levels.empty())
        return;
    if (m_levels.back().members++)
        m_out->append(",\n", 2);
    m_out->append(4 * int(m_levels.size()), ' ');
}

JsonWriter &JsonWriter::key(const char *latin1)
{
    Q_ASSERT(!m_levels.empty() && !m_afterKey);
    Level &level = m_levels.back();
    Q_ASSERT_X(!level.lastKey || std::strcmp(level.lastKey, latin1) < 0, "JsonWriter::key", "keys out of order");
    level.lastKey = latin1;
    if (level.members++)
        m_out->append(",\n", 2);
    m_out->append(4 * int(m_levels.size()), ' ');
    m_out->append('"').append(latin1).append("\": ", 3);
    m_afterKey = true;
    return *this;
}

void JsonWriter::beginObject()
{
    beforeValue();
    m_out->append("{\n", 2);
    m_levels.push_back({});
}

void JsonWriter::beginArray()
{
    beforeValue();
    m_out->append("[\n", 2);
    m_levels.push_back({});
}

void JsonWriter::close(char bracket)
{
    Q_ASSERT(!m_levels.empty() && !m_afterKey);
    if (m_levels.back().members)
        m_out->append('\n');
    m_levels.pop_back();
    m_out->append(4 * int(m_levels.size()), ' ').append(bracket);
    if (m_levels.empty())
        m_out->append('\n');        // the document's own last line break
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::endArray()
{
    close(']');
}

void JsonWriter::value(const QString &s)
{
    beforeValue();
    appendString(m_out, s);
}

void JsonWriter::value(QLatin1String s)
{
    value(QString(s));
}

void JsonWriter::integer(qint64 n)
{
    beforeValue();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 keeps every JSON number as a double: past 2^53 an integer rounds.
    constexpr qint64 exact = qint64(1) << 53;
    if (n > exact || n < -exact) {
        appendDouble(m_out, double(n));
        return;
    }
#endif
    m_out->append(QByteArray::number(n));
}

void JsonWriter::value(double d)
{
    beforeValue();
    appendDouble(m_out, d);
}

void JsonWriter::value(bool b)
{
    beforeValue();
    m_out->append(b ? "true" : "false");
}

void JsonWriter::null()
{
    beforeValue();
    m_out->append("null", 4);
}

void JsonWriter::appendString(QByteArray *out, const QString &s)
{
    static const char hex[] = "0123456789abcdef";
    const QChar *chars = s.constData();
    const qsizetype n = s.size();
    out->append('"');
    for (qsizetype i = 0; i < n;) {
        const ushort u = chars[i].unicode();
        if (u >= 0x80) {        // a run of other characters, pairs kept together, as UTF-8
            qsizetype end = i + 1;
            while (end < n && chars[end].unicode() >= 0x80)
                ++end;
            out->append(QStringView(chars + i, end - i).toUtf8());
            i = end;
            continue;
        }
        ++i;
        if (u >= 0x20 && u != '"' && u != '\\') {
            out->append(char(u));
            continue;
        }
        out->append('\\');
        switch (u) {
        case '"': out->append('"'); break;
        case '\\': out->append('\\'); break;
        case '\b': out->append('b'); break;
        case '\f': out->append('f'); break;
        case '\n': out->append('n'); break;
        case '\r': out->append('r'); break;
        case '\t': out->append('t'); break;
        default: out->append("u00", 3).append(hex[u >> 4]).append(hex[u & 0xf]);
        }
    }
    out->append('"');
}

void JsonWriter::appendDouble(QByteArray *out, double d)
{
    if (!std::isfinite(d)) {
        out->append("null", 4);
        return;
    }
    out->append(QByteArray::number(d, 'g', QLocale::FloatingPointShortest));
}

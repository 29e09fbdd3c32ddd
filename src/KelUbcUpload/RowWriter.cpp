#include "RowWriter.h"

#include "PathDigester.h"

#include <RecordFormat/TrigerTime.h>

void RowWriter::putString(QByteArray &out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    const char *p = text.data();
    const char *end = p + text.size();
    const char *run = p;
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, int(p - run));
        run = p + 1;
        switch (c) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        default: {
            const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.append(escape, 6);
        }
        }
    }
    out.append(run, int(p - run));
    out.append('"');
}

void RowWriter::putPath(QByteArray &out, std::string_view text) const
{
    if (m_paths && !m_paths->sendsPaths())
        putString(out, m_paths->digest(text));
    else
        putString(out, text);
}

void RowWriter::putAttrs(QByteArray &out, const std::vector<RecordAttr> &attrs) const
{
    out.append(",\"attrs.key\":[", 14);
    for (size_t i = 0; i < attrs.size(); ++i) {
        if (i)
            out.append(',');
        putString(out, attrs[i].key);
    }
    out.append("],\"attrs.value\":[", 17);
    for (size_t i = 0; i < attrs.size(); ++i) {
        if (i)
            out.append(',');
        if (m_paths && m_paths->isPathKey(attrs[i].key))
            putPath(out, attrs[i].value);
        else
            putString(out, attrs[i].value);
    }
    out.append(']');
}

void RowWriter::putTime(QByteArray &out, std::string_view text)
{
    out.append(",\"time\":\"", 9);
    char time[19];
    if (TrigerTime::toUtcText(text, time))
        out.append(time, 19);
    else
        out.append("1970-01-01 00:00:00", 19);
    out.append('"');
}

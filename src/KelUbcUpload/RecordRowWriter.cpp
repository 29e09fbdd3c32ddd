#include "RecordRowWriter.h"

#include <RecordFormat/TrigerTime.h>

#include <cstdio>
#include <string_view>

namespace {

// JSON string content: UTF-8 as the parser validated it, quote, backslash
// and control characters escaped.
void putString(QByteArray &out, std::string_view text)
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

void putName(QByteArray &out, std::string_view name)
{
    out.append('"');
    out.append(name.data(), int(name.size()));
    out.append("\":", 2);
}

} // namespace

RecordRowWriter::RecordRowWriter() = default;

RecordRowWriter::~RecordRowWriter() = default;

bool RecordRowWriter::utcTime(const char *t, int n, char result[19])
{
    return TrigerTime::toUtcText(std::string_view(t, size_t(n)), result);
}

bool RecordRowWriter::append(const char *data, int size, QByteArray &out)
{
    LogRecord &r = m_record;
    if (m_reader.read(data, size_t(size), size_t(size) + Padding, r))
        return false;
    out.append('{');
    bool first = true;
    // The fields in the table's order, sessionid always: a line without one
    // is stored under the empty session with its derived seq.
    for (int i = 0; i < RecordFields::Count; ++i) {
        const auto field = RecordFields::Field(i);
        if (!r.has(field) && field != RecordFields::Sessionid)
            continue;
        if (!first)
            out.append(',');
        first = false;
        putName(out, RecordFields::names[i]);
        if (r.scalars & RecordFields::bit(field))
            out.append(r.text(field).data(), int(r.text(field).size())); // the server judges it
        else
            putString(out, r.text(field));
    }
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, ",\"seq\":%llu", static_cast<unsigned long long>(r.seq));
    out.append(digits, n);
    out.append(",\"attrs.key\":[", 14);
    for (size_t i = 0; i < r.attrs.size(); ++i) {
        if (i)
            out.append(',');
        putString(out, r.attrs[i].key);
    }
    out.append("],\"attrs.value\":[", 17);
    for (size_t i = 0; i < r.attrs.size(); ++i) {
        if (i)
            out.append(',');
        putString(out, r.attrs[i].value);
    }
    out.append("],\"time\":\"", 10);
    char time[19];
    if (TrigerTime::toUtcText(r.text(RecordFields::Trigertime), time))
        out.append(time, 19);
    else
        out.append("1970-01-01 00:00:00", 19);
    out.append("\"}\n", 3);
    return true;
}

#include "RecordRowWriter.h"

#include <RecordFormat/TrigerTime.h>

#include <cstdio>
#include <string_view>

namespace {

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
        else if (field == RecordFields::Prjfullpath)
            putPath(out, r.text(field));
        else
            putString(out, r.text(field));
    }
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, ",\"seq\":%llu", static_cast<unsigned long long>(r.seq));
    out.append(digits, n);
    putAttrs(out, r.attrs);
    putTime(out, r.text(RecordFields::Trigertime));
    out.append("}\n", 2);
    return true;
}

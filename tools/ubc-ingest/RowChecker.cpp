#include "RowChecker.h"

#include <simdjson.h>

#include <cstring>

namespace {

namespace od = simdjson::ondemand;

bool digits(const char *t, int from, int to)
{
    for (int i = from; i < to; ++i)
        if (t[i] < '0' || t[i] > '9')
            return false;
    return true;
}

int number(const char *t, int from, int to)
{
    int n = 0;
    for (int i = from; i < to; ++i)
        n = n * 10 + (t[i] - '0');
    return n;
}

// "YYYY-MM-DD hh:mm:ss", the one DateTime text the insert is given.
bool isDateTime(std::string_view s)
{
    const char *t = s.data();
    return s.size() == 19 && digits(t, 0, 4) && t[4] == '-' && digits(t, 5, 7) && t[7] == '-'
           && digits(t, 8, 10) && t[10] == ' ' && digits(t, 11, 13) && t[13] == ':' && digits(t, 14, 16)
           && t[16] == ':' && digits(t, 17, 19) && number(t, 5, 7) >= 1 && number(t, 5, 7) <= 12
           && number(t, 8, 10) >= 1 && number(t, 8, 10) <= 31 && number(t, 11, 13) < 24
           && number(t, 14, 16) < 60 && number(t, 17, 19) < 60;
}

// The number of strings in an array value, or -1.
int strings(od::value value)
{
    od::array array;
    if (value.get_array().get(array))
        return -1;
    int n = 0;
    for (auto item : array) {
        std::string_view s;
        if (item.get_string().get(s))
            return -1;
        ++n;
    }
    return n;
}

bool blank(const char *p, const char *end)
{
    for (; p < end; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r')
            return false;
    return true;
}

} // namespace

struct RowChecker::Members
{
    od::parser parser;
};

RowChecker::RowChecker()
    : m_members(new Members)
{
}

RowChecker::~RowChecker() = default;

// The members a row has beyond a log line's: RecordLineReader passes over them.
const char *RowChecker::checkRow(const char *data, size_t size, size_t capacity)
{
    if (const char *why = m_reader.read(data, size, capacity, m_record))
        return why;
    if (m_record.scalars)
        return "a field that is not a string";
    if (!m_record.has(RecordFields::Sessionid))
        return "no sessionid";
    od::document doc;
    od::object object;
    if (m_members->parser.iterate(data, size, capacity).get(doc) || doc.get_object().get(object))
        return "not a JSON object";
    bool seq = false, time = false;
    int keys = -1, values = -1;
    for (auto member : object) {
        if (member.error())
            return "broken JSON";
        od::field field = member.value_unsafe();
        std::string_view name;
        if (field.unescaped_key().get(name))
            return "broken JSON";
        if (name == RecordFields::Seq) {
            seq = true;
        } else if (name == "attrs.key" || name == "attrs.value") {
            int &count = name == "attrs.key" ? keys : values;
            if (count >= 0)
                return "a member named twice";
            count = strings(field.value());
            if (count < 0)
                return "attrs.key and attrs.value must be arrays of strings";
        } else if (name == "time") {
            std::string_view text;
            if (time)
                return "a member named twice";
            time = true;
            if (field.value().get_string().get(text) || !isDateTime(text))
                return "time is not \"YYYY-MM-DD hh:mm:ss\"";
        }
    }
    if (!seq)
        return "no seq";
    if (qMax(keys, 0) != qMax(values, 0))
        return "attrs.key and attrs.value differ in length";
    return nullptr;
}

QByteArray RowChecker::append(const QByteArray &body, QByteArray &out, int *rows)
{
    // The parsers may read (never write) up to Padding bytes past a line.
    m_padded.reserve(body.size() + int(RecordLineReader::Padding));
    m_padded = body;
    m_padded.append(QByteArray(int(RecordLineReader::Padding), ' '));
    const char *begin = m_padded.constData();
    const char *end = begin + body.size();
    const int before = out.size();
    int count = 0, lineNumber = 0;
    for (const char *line = begin; line < end;) {
        const char *newline = static_cast<const char *>(std::memchr(line, '\n', size_t(end - line)));
        const char *stop = newline ? newline : end;
        ++lineNumber;
        if (!blank(line, stop)) {
            const char *last = stop;
            while (last > line && last[-1] == '\r')
                --last;
            const size_t size = size_t(last - line);
            if (const char *why = checkRow(line, size, size_t(end - line) + RecordLineReader::Padding)) {
                out.truncate(before);
                return QByteArray("line ") + QByteArray::number(lineNumber) + ": " + why;
            }
            out.append(line, int(size));
            out.append('\n');
            ++count;
        }
        line = stop + 1;
    }
    if (rows)
        *rows = count;
    return QByteArray();
}

#include "RecordRowWriter.h"

#include <simdjson.h>

#include <cstdio>
#include <cstring>
#include <string_view>

using namespace simdjson;

namespace {

// The table's columns in the order the log writes them.
constexpr std::string_view kFields[] = {
    "pcode", "fncode", "fnname", "fngroup", "trigertime", "gid", "vername", "ver", "ver2",
    "debug", "usetype", "utype", "mac", "hardwareid", "ip", "projectid", "prjfullpath",
    "prjtext", "prjedocnt", "prjsize", "prjcost", "regionrule", "major", "duration",
    "sessionid"};
constexpr int kFieldCount = int(sizeof(kFields) / sizeof(kFields[0]));
constexpr int kTrigerTime = 4;
constexpr int kSessionId = 24;

// Index of a protocol field; `guess` (the position in a well-formed line)
// is tried first.
int fieldIndex(std::string_view name, int guess)
{
    if (guess < kFieldCount && kFields[guess] == name)
        return guess;
    for (int i = 0; i < kFieldCount; ++i)
        if (kFields[i] == name)
            return i;
    return -1;
}

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

void put(QByteArray &out, std::string_view text)
{
    out.append(text.data(), int(text.size()));
}

int digits(const char *p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

void civilFromDays(qint64 z, int &y, int &m, int &d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(qint64(yoe) + era * 400 + (m <= 2));
}

void put2(char *p, int v)
{
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
}

} // namespace

struct RecordRowWriter::Parser
{
    dom::parser parser;
};

RecordRowWriter::RecordRowWriter() : m_parser(new Parser) {}

RecordRowWriter::~RecordRowWriter() = default;

bool RecordRowWriter::utcTime(const char *t, int n, char result[19])
{
    // YYYY-MM-DDThh:mm:ss[.fff...](Z|+hh:mm|-hh:mm)
    if (n < 20 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':'
        || t[16] != ':')
        return false;
    const int year = digits(t, 4), month = digits(t + 5, 2), day = digits(t + 8, 2);
    const int hour = digits(t + 11, 2), minute = digits(t + 14, 2), second = digits(t + 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23
        || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    int i = 19;
    if (t[i] == '.') {
        ++i;
        while (i < n && t[i] >= '0' && t[i] <= '9')
            ++i;
    }
    int offsetMinutes = 0;
    if (i == n - 1 && t[i] == 'Z') {
        offsetMinutes = 0;
    } else if (i == n - 6 && (t[i] == '+' || t[i] == '-') && t[i + 3] == ':') {
        const int oh = digits(t + i + 1, 2), om = digits(t + i + 4, 2);
        if (oh < 0 || oh > 23 || om < 0 || om > 59)
            return false;
        offsetMinutes = (oh * 60 + om) * (t[i] == '-' ? -1 : 1);
    } else {
        return false;
    }
    qint64 seconds = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400
                     + qint64(hour) * 3600 + qint64(minute) * 60 + second - qint64(offsetMinutes) * 60;
    qint64 days = seconds / 86400;
    qint64 rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y, m, d;
    civilFromDays(days, y, m, d);
    if (y < 1970 || y > 2105) // DateTime's range
        return false;
    result[0] = char('0' + y / 1000);
    result[1] = char('0' + y / 100 % 10);
    put2(result + 2, y % 100);
    result[4] = '-';
    put2(result + 5, m);
    result[7] = '-';
    put2(result + 8, d);
    result[10] = ' ';
    put2(result + 11, int(rest / 3600));
    result[13] = ':';
    put2(result + 14, int(rest / 60 % 60));
    result[16] = ':';
    put2(result + 17, int(rest % 60));
    return true;
}

bool RecordRowWriter::append(const char *data, int size, QByteArray &out)
{
    const int start = out.size();
    dom::object object;
    if (m_parser->parser.parse(data, size_t(size), false).get_object().get(object))
        return false;

    char time[19];
    bool haveTime = false;
    bool haveSession = false, haveSeq = false;
    QByteArray keys, values; // "attrs.key" and "attrs.value" array contents
    out.append('{');
    bool first = true;
    int position = 0;
    for (const dom::key_value_pair field : object) {
        const std::string_view name = field.key;
        const dom::element value = field.value;
        const int index = fieldIndex(name, position++);
        if (index >= 0 || name == "seq") {
            if (!first)
                out.append(',');
            first = false;
            putString(out, name);
            out.append(':');
            std::string_view text;
            uint64_t number;
            if (!value.get_string().get(text)) {
                putString(out, text);
                if (index == kTrigerTime)
                    haveTime = utcTime(text.data(), int(text.size()), time);
                if (index == kSessionId)
                    haveSession = true;
            } else if (!value.get_uint64().get(number)) {
                if (index < 0) // seq: the only number among the columns
                    haveSeq = number > 0;
                char digits[24];
                const int n = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(number));
                out.append(digits, n);
            } else if (value.is_object() || value.is_array()) {
                out.truncate(start);
                return false; // never fits a scalar column
            } else {
                // Other scalars as written: the server judges them.
                put(out, minify(value));
            }
        } else if (name == "attrs") {
            dom::object attrs;
            if (value.get_object().get(attrs)) {
                out.truncate(start);
                return false;
            }
            for (const dom::key_value_pair attr : attrs) {
                std::string_view text;
                if (attr.value.get_string().get(text)) {
                    out.truncate(start);
                    return false;
                }
                if (!keys.isEmpty()) {
                    keys.append(',');
                    values.append(',');
                }
                putString(keys, attr.key);
                putString(values, text);
            }
        }
        // Fields the table does not have are left out.
    }
    // Without its identity a row would replace another session's or
    // another row of its own session in the table.
    if (!haveSession || !haveSeq) {
        out.truncate(start);
        return false;
    }
    if (!first)
        out.append(',');
    out.append("\"attrs.key\":[", 13);
    out.append(keys);
    out.append("],\"attrs.value\":[", 17);
    out.append(values);
    out.append("],\"time\":\"", 10);
    if (haveTime)
        out.append(time, 19);
    else
        out.append("1970-01-01 00:00:00", 19);
    out.append("\"}\n", 3);
    return true;
}

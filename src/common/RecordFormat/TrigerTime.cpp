#include "TrigerTime.h"

namespace {

bool digits(std::string_view s, size_t at, size_t n, int *value)
{
    if (at + n > s.size())
        return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int &y, int &m, int &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

void put2(char *p, int v)
{
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
}

} // namespace

namespace TrigerTime {

bool toEpochMs(std::string_view s, int64_t *msSinceEpoch)
{
    int y, mo, d, h, mi, sec;
    if (!digits(s, 0, 4, &y) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, &mo) || s[7] != '-'
        || !digits(s, 8, 2, &d) || (s[10] != 'T' && s[10] != ' ') || !digits(s, 11, 2, &h)
        || s[13] != ':' || !digits(s, 14, 2, &mi) || s[16] != ':' || !digits(s, 17, 2, &sec))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 60)
        return false;
    size_t i = 19;
    int ms = 0;
    if (i < s.size() && s[i] == '.') {
        int scale = 100;
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            ms += (s[i] - '0') * scale;
            scale /= 10;
        }
    }
    int offsetMinutes = 0;
    if (i < s.size()) {
        if (s[i] == 'Z') {
            ++i;
        } else if (s[i] == '+' || s[i] == '-') {
            int oh, om;
            const bool colon = i + 3 < s.size() && s[i + 3] == ':';
            if (!digits(s, i + 1, 2, &oh) || !digits(s, i + (colon ? 4 : 3), 2, &om) || oh > 23 || om > 59)
                return false;
            offsetMinutes = (s[i] == '-' ? -1 : 1) * (oh * 60 + om);
            i += colon ? 6 : 5;
        }
    }
    if (i != s.size())
        return false;
    const int64_t seconds = daysFromCivil(y, mo, d) * 86400 + int64_t(h) * 3600 + int64_t(mi) * 60 + sec
                            - int64_t(offsetMinutes) * 60;
    *msSinceEpoch = seconds * 1000 + ms;
    return true;
}

bool toUtcText(std::string_view text, char result[19])
{
    int64_t ms;
    if (!toEpochMs(text, &ms))
        return false;
    const int64_t seconds = secondsOf(ms);
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
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

} // namespace TrigerTime

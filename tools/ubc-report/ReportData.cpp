#include "ReportData.h"

#include <cstring>

namespace UbcReport {

namespace {

struct LocationLabel
{
    const char *chinese;
    const char *english;
    Location location;
};

const LocationLabel locationTable[] = {
    {"Ribbon工具栏", "Ribbon toolbar", Ribbon},
    {"Ribbon快捷栏", "Ribbon quick-access bar", QuickAccess},
    {"右键", "Right-click menu", ContextMenu},
    {"视图面板", "View panel", ViewPanel},
    {"快捷键", "Shortcut key", Shortcut},
};

const char *const lifecycleNames[][2] = {
    {"启动软件", "Start software"}, {"打开软件", "Open software"}, {"关闭软件", "Close software"},
    {"打开工程", "Open project"},   {"新建工程", "New project"},   {"保存工程", "Save project"},
    {"关闭工程", "Close project"},
};

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

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

const char *const PropertyLabels[2] = {"属性", "Property"};
const char *const LifecycleCodes[7] = {"990001", "990002", "990003", "990004", "990005", "990006", "990007"};

void locationLabels(Location location, const char *labels[2])
{
    labels[0] = labels[1] = nullptr;
    for (const LocationLabel &l : locationTable)
        if (l.location == location) {
            labels[0] = l.chinese;
            labels[1] = l.english;
        }
}

Location locationOf(std::string_view label, int *language)
{
    if (language)
        *language = -1;
    if (label.empty())
        return NoLocation;
    for (const LocationLabel &l : locationTable) {
        for (int lang = 0; lang < 2; ++lang) {
            if (label == (lang ? l.english : l.chinese)) {
                if (language)
                    *language = lang;
                return l.location;
            }
        }
    }
    return OtherLocation;
}

const char *locationKey(Location location)
{
    static const char *const keys[] = {"ribbon", "quickAccess", "contextMenu", "viewPanel",
                                       "shortcut", "none", "other"};
    return keys[location];
}

bool isLifecycleCode(std::string_view code)
{
    return code.size() == 6 && code.compare(0, 5, "99000") == 0 && code[5] >= '1' && code[5] <= '7';
}

int lifecycleLanguage(std::string_view name)
{
    for (const auto &names : lifecycleNames)
        for (int lang = 0; lang < 2; ++lang)
            if (name == names[lang])
                return lang;
    return -1;
}

RecordKind classify(std::string_view code, std::string_view name, bool hasLocation,
                    int attrCount, std::string_view firstAttrKey)
{
    if (isLifecycleCode(code))
        return Lifecycle;
    if (hasLocation)
        return Action;
    // A property edit is named "element-属性-property" and carries that property alone.
    if (attrCount == 1) {
        for (const char *label : PropertyLabels) {
            const std::string_view l(label);
            const size_t tail = l.size() + firstAttrKey.size() + 2; // "-label-key"
            if (name.size() < tail)
                continue;
            const size_t at = name.size() - tail;
            if (name[at] == '-' && name.compare(at + 1, l.size(), l) == 0
                && name[at + 1 + l.size()] == '-' && endsWith(name, firstAttrKey))
                return PropertyEdit;
        }
    }
    return NamedEvent;
}

const char *kindKey(RecordKind kind)
{
    static const char *const keys[] = {"lifecycle", "action", "edit", "event"};
    return keys[kind];
}

int64_t toInt64OrZero(std::string_view text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18)
        return 0;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

bool parseTrigerTime(std::string_view s, int64_t *msSinceEpoch)
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
            if (!digits(s, i + 1, 2, &oh) || !digits(s, i + (colon ? 4 : 3), 2, &om))
                return false;
            offsetMinutes = (s[i] == '-' ? -1 : 1) * (oh * 60 + om);
            i += colon ? 6 : 5;
        }
    }
    if (i != s.size())
        return false;
    const int64_t seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec
                            - int64_t(offsetMinutes) * 60;
    *msSinceEpoch = seconds * 1000 + ms;
    return true;
}

} // namespace UbcReport

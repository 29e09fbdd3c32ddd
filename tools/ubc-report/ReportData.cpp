#include "ReportData.h"

#include <RecordFormat/RecordIdentity.h>
#include <RecordFormat/RecordCodes.h>

#include <tuple>

namespace UbcReport {

namespace {

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

Location locationOf(std::string_view label, int *language)
{
    if (language)
        *language = -1;
    if (label.empty())
        return NoLocation;
    RecordLabels::Language lang;
    const int found = RecordLabels::find(label, &lang);
    for (int l = 0; l < int(std::size(LocationLabels)); ++l) {
        if (found == LocationLabels[l]) {
            if (language)
                *language = lang;
            return Location(l);
        }
    }
    return OtherLocation;
}

const char *locationKey(Location location)
{
    if (location < int(std::size(LocationLabels)))
        return RecordLabels::labelTexts[LocationLabels[location]].key;
    return location == NoLocation ? "none" : "other";
}

int lifecycleLanguage(std::string_view name)
{
    for (const RecordCodes::Lifecycle &l : RecordCodes::lifecycle) {
        const RecordLabels::Text &t = RecordLabels::labelTexts[l.label];
        if (name == t.chinese)
            return RecordLabels::Chinese;
        if (name == t.english)
            return RecordLabels::English;
    }
    return -1;
}

RecordKind classify(std::string_view code, std::string_view name, bool hasLocation,
                    int attrCount, std::string_view firstAttrKey)
{
    if (RecordCodes::isLifecycle(code))
        return Lifecycle;
    if (hasLocation)
        return Action;
    // A property edit is named "element-属性-property" and carries that property alone.
    if (attrCount == 1) {
        const RecordLabels::Text &property = RecordLabels::labelTexts[RecordLabels::LabelProperty];
        for (std::string_view l : {property.chinese, property.english}) {
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

bool timelineBefore(const TimelineEvent &a, const TimelineEvent &b)
{
    const bool da = RecordIdentity::isDerived(a.seq), db = RecordIdentity::isDerived(b.seq);
    return std::forward_as_tuple(da, da ? a.trigertime : std::string(), a.seq)
           < std::forward_as_tuple(db, db ? b.trigertime : std::string(), b.seq);
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

} // namespace UbcReport

#ifndef LOGRECORD_H
#define LOGRECORD_H

// What the readers yield: views into the reader's buffers and the line,
// valid until the reader reads again.

#include "RecordFields.h"

#include <cstdint>
#include <string_view>
#include <vector>

struct RecordAttr
{
    std::string_view key, value;
};

// One record of the behaviour log.
struct LogRecord
{
    std::string_view line;
    std::string_view fields[RecordFields::Count]; // unescaped; empty when absent
    uint32_t present = 0; // RecordFields::bit() of each field the line has
    uint32_t scalars = 0; // ... of each given as a JSON number, true, false or null, text as written
    // With sessionid (empty when the line has none), names the record; see RecordIdentity.
    uint64_t seq = 0;
    std::vector<RecordAttr> attrs; // in the line's order

    std::string_view text(RecordFields::Field f) const { return fields[f]; }
    bool has(RecordFields::Field f) const { return present & RecordFields::bit(f); }
    const RecordAttr *attr(std::string_view key) const
    {
        for (const RecordAttr &a : attrs)
            if (a.key == key)
                return &a;
        return nullptr;
    }
};

// One line of the host helper's journal of coded events:
// {"time":"<UTC, ms>","code":"<decimal>","attrs":{...}|null,
//  "pcode":..,"gid":..,"sessionid":..,"seq":<n>}, the last four optional.
struct JournalEvent
{
    std::string_view time, code;
    bool attrsNull = false;
    std::vector<RecordAttr> attrs;
    std::string_view pcode, gid, sessionid; // empty when absent
    // With sessionid, names the event as (sessionid, seq) names a record; an
    // event without both is named by its content (RecordIdentity) under the
    // empty session.
    uint64_t seq = 0;

    const RecordAttr *attr(std::string_view key) const
    {
        for (const RecordAttr &a : attrs)
            if (a.key == key)
                return &a;
        return nullptr;
    }
};

#endif // LOGRECORD_H

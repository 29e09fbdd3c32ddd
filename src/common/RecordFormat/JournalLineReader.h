#ifndef JOURNALLINEREADER_H
#define JOURNALLINEREADER_H

#include "LogRecord.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Reads one line of the host helper's journal of coded events: a JSON object
// with "time" (at least a date), "code" (a non-empty string) and "attrs" (an
// object of strings, or null), and optionally the identity of its writer
// ("pcode", "gid", "sessionid": strings; "seq": 1 ... RecordIdentity::MaxSeq).
// No member may be named twice; others are passed over.
class JournalLineReader
{
public:
    static constexpr size_t Padding = 64;

    JournalLineReader();
    ~JournalLineReader();

    // As RecordLineReader::read.
    const char *read(const char *data, size_t size, size_t capacity, JournalEvent &event);
    // The same for a line in a buffer without that room: read from a padded copy.
    const char *read(std::string_view line, JournalEvent &event);

private:
    struct Parser;
    std::string m_copy;
    std::unique_ptr<Parser> m_parser;
};

#endif // JOURNALLINEREADER_H

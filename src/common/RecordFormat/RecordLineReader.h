#ifndef RECORDLINEREADER_H
#define RECORDLINEREADER_H

#include "LogRecord.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Reads one line of the behaviour log into a LogRecord.
//
// A record is a JSON object with its identity, "sessionid" and "seq", or
// else with "fncode" and "trigertime", and then the identity derived from its
// content (see RecordIdentity). Each protocol field is a string (or, but for
// sessionid, a JSON number, true, false or null, kept as written); "seq" a
// whole number from 1 to RecordIdentity::MaxSeq; "attrs" an object of
// strings. No field may be named twice. Other members are passed over.
class RecordLineReader
{
public:
    // Bytes after a line's end that the parser may read (never write).
    static constexpr size_t Padding = 64;

    RecordLineReader();
    ~RecordLineReader();

    // [data, data + size) is the line without its line end; capacity bytes
    // from data are readable, at least size + Padding. Null when the line is
    // a record, else why it is not.
    const char *read(const char *data, size_t size, size_t capacity, LogRecord &record);
    // The same for a line in a buffer without that room: read from a padded copy.
    const char *read(std::string_view line, LogRecord &record);

private:
    struct Parser;
    std::string m_copy;
    std::unique_ptr<Parser> m_parser;
};

#endif // RECORDLINEREADER_H

#ifndef RECORDLINE_H
#define RECORDLINE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// The fields of one record that the report reads: views into the line or
// the reader's buffers, valid until the next line is read.
struct ReportRecord
{
    std::string_view pcode, fncode, fnname, fngroup, trigertime, hardwareid, ver, projectid,
        prjfullpath, prjedocnt, prjsize, duration, sessionid, location, firstAttrKey;
    uint64_t seq = 0;
    int64_t ms = 0;             // trigertime, milliseconds since the epoch
    int attrCount = 0;
    bool hasLocation = false;
};

// Reads one line of a record log into a ReportRecord, with the record
// format's reader: a line without seq gets the identity derived from its
// content, so that a copy of it counts once.
class RecordLine
{
public:
    // Bytes after a line's end that the reader may read (never write).
    static constexpr size_t Padding = 64;

    RecordLine();
    ~RecordLine();

    // [line, line + size) without its line end; capacity bytes from line are
    // readable, at least size + Padding. Null when the line is a record,
    // else why it is not.
    const char *read(const char *line, size_t size, size_t capacity, ReportRecord &record);

private:
    struct Parser;
    std::unique_ptr<Parser> m_parser;
};

#endif // RECORDLINE_H

#ifndef JSONLINEWRITER_H
#define JSONLINEWRITER_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

class SharedTextCache;
struct UbcDataProtocol;

// Writes a record as one line of JSON: the 25 fields by name in protocol
// order, then "seq" as a number, then "attrs" as an object, then "\n". No allocation once the
// output buffer has grown to a record's size.
class JsonLineWriter
{
public:
    static constexpr int FieldCount = 25; // RecordFields::Count

    // Writes the record's line at the start of buffer, which grows when it
    // must and is never shrunk; returns the line's size, or -1 for a record
    // too large to be held as one line.
    static int write(QByteArray &buffer, const UbcDataProtocol &record, quint64 seq);
    // The same line, with the texts that records share taken from the cache,
    // and the seq after the cache's last one; seqAt gets where its digits
    // start.
    static int write(QByteArray &buffer, const UbcDataProtocol &record, SharedTextCache &cache, int *seqAt);
    // Puts seq in place of the seq at seqAt in the line of size bytes that
    // write() left in buffer, and makes it the cache's last one; returns the
    // line's new size.
    static int changeSeq(QByteArray &buffer, int size, int seqAt, quint64 seq, SharedTextCache &cache);
    static QString fieldName(int index);
};

#endif // JSONLINEWRITER_H

#ifndef JOURNALROWWRITER_H
#define JOURNALROWWRITER_H

#include "RowWriter.h"

#include <RecordFormat/JournalLineReader.h>

// Turns lines of the host helper's journal into JSONEachRow rows for
// ubc.coded_events: pcode, gid, sessionid and seq (the event's identity,
// derived from its content for a line without seq or sessionid, as for a
// record), code, "eventtime" (time as the helper wrote it), attrs as the
// arrays "attrs.key" and "attrs.value", and "time", the event's time in UTC
// as "YYYY-MM-DD hh:mm:ss".
class JournalRowWriter : public RowWriter
{
public:
    JournalRowWriter();
    ~JournalRowWriter() override;

    static_assert(JournalLineReader::Padding <= size_t(Padding), "the reader wants more padding");

    // False for a line that is not a coded event (JournalLineReader says which are).
    bool append(const char *data, int size, QByteArray &out) override;

private:
    JournalLineReader m_reader;
    JournalEvent m_event;
};

#endif // JOURNALROWWRITER_H

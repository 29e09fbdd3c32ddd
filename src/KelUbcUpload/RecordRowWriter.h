#ifndef RECORDROWWRITER_H
#define RECORDROWWRITER_H

#include "RowWriter.h"

#include <RecordFormat/RecordLineReader.h>

// Turns record lines of the behaviour log into JSONEachRow rows for
// ubc.records: the protocol's fields, sessionid and seq (a record's identity,
// derived from its content for a line without seq or sessionid: see
// RecordIdentity), attrs as the arrays "attrs.key" and "attrs.value", and
// "time", trigertime in UTC as "YYYY-MM-DD hh:mm:ss". Fields the table does
// not know are left out, so a newer writer's lines still insert. With a
// PathDigester, prjfullpath and the attributes it marks go as its digests.
class RecordRowWriter : public RowWriter
{
public:
    RecordRowWriter();
    ~RecordRowWriter() override;

    static_assert(RecordLineReader::Padding <= size_t(Padding), "the reader wants more padding");

    // False for a line that is not a record (RecordLineReader says which are).
    bool append(const char *data, int size, QByteArray &out) override;

    // "2026-12-05T16:02:11.347+08:00" -> "2026-12-05 08:02:11"; false when
    // the text is not such a time.
    static bool utcTime(const char *t, int n, char result[19]);

private:
    RecordLineReader m_reader;
    LogRecord m_record;
};

#endif // RECORDROWWRITER_H

#ifndef ROWCHECKER_H
#define ROWCHECKER_H

#include <RecordFormat/RecordLineReader.h>

#include <QtCore/QByteArray>

#include <memory>

// Whether a request body is rows that an insert into ubc.records takes, as
// the uploader writes them: one JSON object a line, with the record's
// identity ("sessionid" a string, "seq" from 1 on), every protocol field a
// string, "attrs.key" and "attrs.value" arrays of strings of one length and
// "time" as "YYYY-MM-DD hh:mm:ss". Members the table does not know are left
// to the insert, which skips them. Lines are kept byte for byte: what is
// stored is what the desktop sent.
class RowChecker
{
public:
    RowChecker();
    ~RowChecker();

    // Appends the rows of body (plain JSON lines) to out, each ending in a
    // newline, blank lines left out. On the first line that is not a row,
    // out is left as it was and the answer says which line and why; an
    // empty answer means every line was a row. `rows` counts the rows added.
    QByteArray append(const QByteArray &body, QByteArray &out, int *rows = nullptr);

private:
    const char *checkRow(const char *data, size_t size, size_t capacity);

    struct Members;
    RecordLineReader m_reader;
    LogRecord m_record;
    std::unique_ptr<Members> m_members;
    QByteArray m_padded;
};

#endif // ROWCHECKER_H

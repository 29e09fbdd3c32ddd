#ifndef ROWWRITER_H
#define ROWWRITER_H

#include <RecordFormat/LogRecord.h>

#include <QtCore/QByteArray>

#include <string_view>
#include <vector>

class PathDigester;

// Turns one line of a followed file into one JSONEachRow row for its table.
// With a PathDigester, the path-like values go as its digests.
class RowWriter
{
public:
    virtual ~RowWriter() = default;

    // Bytes readable after a line's end that a writer's parser may touch.
    static constexpr int Padding = 64;

    // Appends the row for line [data, data + size) and a newline to out; the
    // Padding bytes after the line must be readable. False, and out
    // unchanged, for a line that is not one of the file's kind.
    virtual bool append(const char *data, int size, QByteArray &out) = 0;

    // Not owned; null sends every value as written.
    void setPathDigester(const PathDigester *digester) { m_paths = digester; }

protected:
    // A JSON string: UTF-8 as the parser validated it, quote, backslash and
    // control characters escaped.
    static void putString(QByteArray &out, std::string_view text);
    // A path, or its digest.
    void putPath(QByteArray &out, std::string_view text) const;
    // ,"attrs.key":[...],"attrs.value":[...]
    void putAttrs(QByteArray &out, const std::vector<RecordAttr> &attrs) const;
    // ,"time":"YYYY-MM-DD hh:mm:ss" in UTC; the epoch for text that is not a time.
    static void putTime(QByteArray &out, std::string_view text);

private:
    const PathDigester *m_paths = nullptr;
};

#endif // ROWWRITER_H

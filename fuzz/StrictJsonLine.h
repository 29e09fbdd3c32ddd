#ifndef STRICTJSONLINE_H
#define STRICTJSONLINE_H

#include <QtCore/QByteArray>
#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QVector>

// A JSON reader for one record line, strict where lenient parsers are not:
// the bytes must be valid UTF-8 (no overlong forms, no encoded surrogates),
// control characters must be escaped, and only JSON's escapes are allowed.
// A \uXXXX escape of a surrogate is refused, as jq refuses a lone one. Values are strings, or one level
// of object holding strings (the record's "attrs").
class StrictJsonLine
{
public:
    using Members = QVector<QPair<QString, QString>>;

    // fields: the top-level string members in order; attrs: the members of
    // the one object-valued member, which must be named "attrs".
    bool parse(const QByteArray &json, Members *fields, Members *attrs);
    QString error() const { return m_error; }
    bool sawAttrs() const { return m_sawAttrs; }

private:
    bool fail(const char *what);
    void skipSpace();
    bool expect(char c);
    bool readString(QString *out);
    bool readMembers(Members *out, Members *attrs, bool top);

    const char *m_p = nullptr;
    const char *m_end = nullptr;
    QString m_error;
    bool m_sawAttrs = false;
};

#endif // STRICTJSONLINE_H

#ifndef JSONWRITER_H
#define JSONWRITER_H

#include <QtCore/QByteArray>
#include <QtCore/QLatin1String>
#include <QtCore/QString>

#include <type_traits>
#include <vector>

// Writes JSON straight into a byte array, laid out byte for byte as
// QJsonDocument::toJson(QJsonDocument::Indented) lays it out, without a
// QJsonValue tree. QJsonObject sorts its keys: members must come in that
// order (ascending by key), which debug builds check.
class JsonWriter
{
public:
    explicit JsonWriter(QByteArray *out);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    JsonWriter &key(const char *latin1);    // the next member's key, inside an object

    void value(const QString &s);
    void value(QLatin1String s);
    template<typename Int, std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool>, int> = 0>
    void value(Int n) { integer(qint64(n)); }
    void integer(qint64 n);
    void value(double d);
    void value(bool b);
    void null();

    // One JSON string literal, escaped as QJsonDocument escapes it.
    static void appendString(QByteArray *out, const QString &s);
    // A number as QJsonDocument writes a double.
    static void appendDouble(QByteArray *out, double d);

private:
    void beforeValue();
    void close(char bracket);

    struct Level { int members = 0; const char *lastKey = nullptr; };
    QByteArray *m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

#endif // JSONWRITER_H

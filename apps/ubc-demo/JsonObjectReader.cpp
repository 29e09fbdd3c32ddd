#include "JsonObjectReader.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QSet>
#include <QtCore/QVector>

namespace JsonObjectReader {

namespace {

struct Level
{
    bool object = false;
    bool wantKey = false;
    QSet<QString> keys;
};

// A key as Qt's parser sees it. Wrapped in an array, where no key can
// repeat, Qt does the unescaping and the UTF-8 decoding.
bool decodeKey(const QByteArray &quoted, QString *key)
{
    QJsonParseError error;
    const QJsonArray array = QJsonDocument::fromJson('[' + quoted + ']', &error).array();
    if (error.error != QJsonParseError::NoError || array.size() != 1 || !array.at(0).isString())
        return false;
    *key = array.at(0).toString();
    return true;
}

} // namespace

bool repeatsKey(const QByteArray &json)
{
    QVector<Level> levels;
    const int size = json.size();
    for (int i = 0; i < size; ++i) {
        const char c = json.at(i);
        if (c == '"') {
            const int start = i;
            for (++i; i < size && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\')
                    ++i;
            }
            if (levels.isEmpty() || !levels.last().object || !levels.last().wantKey)
                continue;
            QString key;
            if (i >= size || !decodeKey(json.mid(start, i - start + 1), &key))
                return false;
            Level &level = levels.last();
            if (level.keys.contains(key))
                return true;
            level.keys.insert(key);
            level.wantKey = false;
        } else if (c == '{' || c == '[') {
            Level level;
            level.object = level.wantKey = c == '{';
            levels.append(level);
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
        } else if (c == ',' && !levels.isEmpty() && levels.last().object) {
            levels.last().wantKey = true;
        }
    }
    return false;
}

bool read(const QByteArray &json, QJsonObject *object)
{
    if (repeatsKey(json))
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

} // namespace JsonObjectReader

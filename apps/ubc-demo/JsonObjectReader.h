#ifndef JSONOBJECTREADER_H
#define JSONOBJECTREADER_H

#include <QtCore/QByteArray>
#include <QtCore/QJsonObject>

// Reads one JSON object from text the demo did not necessarily write.
// Qt 5.15's parser leaks the earlier value of a key that an object repeats
// when that value is an object or an array. Nothing we write repeats a key,
// so such text is refused before Qt's parser sees it.
namespace JsonObjectReader {

// True when some object in json names the same key twice (compared after
// unescaping, as Qt compares them). Stops at the first malformed key, where
// Qt's parser stops too.
bool repeatsKey(const QByteArray &json);

// The object json holds; false, and *object untouched, when json is not one
// object or repeats a key.
bool read(const QByteArray &json, QJsonObject *object);

} // namespace JsonObjectReader

#endif // JSONOBJECTREADER_H

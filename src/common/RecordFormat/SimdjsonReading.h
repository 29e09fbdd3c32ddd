#ifndef SIMDJSONREADING_H
#define SIMDJSONREADING_H

// Private to the readers: the parts of reading a line that both share.

#include "LogRecord.h"

#include <simdjson.h>

#include <cstring>
#include <string>

namespace SimdjsonReading {

namespace od = simdjson::ondemand;

static_assert(simdjson::SIMDJSON_PADDING <= 64, "the readers promise 64 bytes of padding");

// Whether the raw (still escaped) key at raw is name: raw lies in a padded
// buffer, so reading past a shorter key is safe.
inline bool keyIs(const char *raw, std::string_view name)
{
    return std::memcmp(raw, name.data(), name.size()) == 0 && raw[name.size()] == '"';
}

// An object of strings, appended to attrs; null or why not.
inline const char *readAttrs(od::value value, std::vector<RecordAttr> &attrs)
{
    od::object object;
    if (value.get_object().get(object))
        return "attrs is not an object";
    for (auto item : object) {
        if (item.error())
            return "broken JSON in attrs";
        od::field field = item.value_unsafe();
        RecordAttr attr;
        if (field.unescaped_key().get(attr.key) || field.value().get_string().get(attr.value))
            return "attrs holds a value that is not a string";
        attrs.push_back(attr);
    }
    return nullptr;
}

// Copies line into copy with the parser's padding after it.
inline const char *padded(std::string &copy, std::string_view line)
{
    copy.assign(line.data(), line.size());
    copy.append(simdjson::SIMDJSON_PADDING, ' ');
    return copy.data();
}

// Whether the document has text after its value.
inline bool textAfter(od::document &doc)
{
    return !doc.current_location().error();
}

} // namespace SimdjsonReading

#endif // SIMDJSONREADING_H

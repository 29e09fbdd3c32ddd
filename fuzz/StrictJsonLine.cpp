#include "StrictJsonLine.h"

#include <simdjson.h>

namespace StrictJsonLine {

bool escapesSurrogate(std::string_view json)
{
    for (size_t i = 0; i + 1 < json.size(); ++i) {
        if (json[i] != '\\')
            continue;
        // "\\" is one escaped backslash: what follows it is no escape.
        if (json[i + 1] == 'u' && i + 3 < json.size() && (json[i + 2] == 'd' || json[i + 2] == 'D')
            && std::string_view("89abAB").find(json[i + 3]) != std::string_view::npos)
            return true;
        ++i;
    }
    return false;
}

bool memberNames(std::string_view json, std::vector<std::string> *names)
{
    simdjson::padded_string padded(json);
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document doc;
    simdjson::ondemand::object object;
    if (parser.iterate(padded).get(doc) || doc.get_object().get(object))
        return false;
    names->clear();
    for (auto field : object) {
        std::string_view key;
        if (field.unescaped_key().get(key))
            return false;
        names->emplace_back(key);
    }
    return true;
}

} // namespace StrictJsonLine

#ifndef STRICTJSONLINE_H
#define STRICTJSONLINE_H

// What the fuzz targets check of a record line beyond RecordLineReader, whose
// parser already refuses bad UTF-8 (overlong forms, encoded surrogates), raw
// control characters, unknown escapes and lone surrogate escapes.

#include <string>
#include <string_view>
#include <vector>

namespace StrictJsonLine {

// Whether the line escapes a UTF-16 surrogate as \uXXXX, a pair included:
// strict readers such as jq refuse a lone one, and the writer never needs one.
bool escapesSurrogate(std::string_view json);

// The names of the line's top-level members in their order; false if the
// line is not one JSON object.
bool memberNames(std::string_view json, std::vector<std::string> *names);

} // namespace StrictJsonLine

#endif // STRICTJSONLINE_H

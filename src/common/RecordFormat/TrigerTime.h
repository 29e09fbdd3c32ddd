#ifndef TRIGERTIME_H
#define TRIGERTIME_H

// A record's trigertime: local time with its UTC offset,
// "2026-12-05T16:02:11.347+08:00". Also read: a space for the 'T', any number
// of fraction digits (milliseconds kept), "Z", an offset without its colon,
// and no offset at all (taken as UTC).

#include <cstdint>
#include <string_view>

namespace TrigerTime {

// Milliseconds since 1970-01-01T00:00:00Z; false when the text is not such a time.
bool toEpochMs(std::string_view s, int64_t *msSinceEpoch);

// "YYYY-MM-DD hh:mm:ss" in UTC, as a DateTime column takes it: false outside
// 1970..2105 or for text that is not a time.
bool toUtcText(std::string_view text, char result[19]);

// Floor division of milliseconds into seconds.
constexpr int64_t secondsOf(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

} // namespace TrigerTime

#endif // TRIGERTIME_H

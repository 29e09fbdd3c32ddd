#ifndef RECORDIDENTITY_H
#define RECORDIDENTITY_H

// What names one record wherever copies of it end up: (sessionid, seq).
// A line without seq (written by another behaviour-log library that meets
// RuvUbc's interface, or by RuvUbc before it numbered its records) is named by
// its content instead: the top bit set, so that it never meets a real seq,
// and 63 bits of the SHA-256 of the whole line. The same line read twice, from
// the log or from a copy, gets the same number; two lines that differ in any
// byte get different ones.

#include <cstdint>
#include <string_view>

namespace RecordIdentity {

constexpr uint64_t DerivedBit = uint64_t(1) << 63;

// seq values a writer may use: 1 ... MaxSeq.
constexpr uint64_t MaxSeq = DerivedBit - 1;

constexpr bool isDerived(uint64_t seq) { return seq & DerivedBit; }

// The seq of a line that has none; line without its line end.
uint64_t derivedSeq(std::string_view line);

} // namespace RecordIdentity

#endif // RECORDIDENTITY_H

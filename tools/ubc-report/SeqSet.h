#ifndef SEQSET_H
#define SEQSET_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The record numbers seen in one session, as sorted runs: a gap-free session
// of any length costs one run, so duplicates are found in memory bounded by
// the gaps, not by the records.
class SeqSet
{
public:
    // True if seq was not in the set before.
    bool insert(uint64_t seq);
    bool contains(uint64_t seq) const;
    size_t runCount() const { return m_runs.size(); }

private:
    std::vector<std::pair<uint64_t, uint64_t>> m_runs; // [first, last], disjoint, not adjacent
};

#endif // SEQSET_H

#include "SeqSet.h"

#include <algorithm>

namespace {

using Run = std::pair<uint64_t, uint64_t>;

// First run that starts after seq.
std::vector<Run>::const_iterator after(const std::vector<Run> &runs, uint64_t seq)
{
    return std::upper_bound(runs.begin(), runs.end(), seq,
                            [](uint64_t s, const Run &r) { return s < r.first; });
}

} // namespace

bool SeqSet::contains(uint64_t seq) const
{
    auto next = after(m_runs, seq);
    return next != m_runs.begin() && std::prev(next)->second >= seq;
}

bool SeqSet::insert(uint64_t seq)
{
    // The common case: the next number of an orderly session.
    if (!m_runs.empty() && m_runs.back().second + 1 == seq) {
        m_runs.back().second = seq;
        return true;
    }
    auto nextC = after(m_runs, seq);
    auto next = m_runs.begin() + (nextC - m_runs.cbegin());
    const bool joinsPrev = next != m_runs.begin() && std::prev(next)->second + 1 >= seq;
    if (joinsPrev && std::prev(next)->second >= seq)
        return false;
    const bool joinsNext = next != m_runs.end() && next->first == seq + 1;
    if (joinsPrev && joinsNext) {
        std::prev(next)->second = next->second;
        m_runs.erase(next);
    } else if (joinsPrev) {
        std::prev(next)->second = seq;
    } else if (joinsNext) {
        next->first = seq;
    } else {
        m_runs.insert(next, {seq, seq});
    }
    return true;
}

#ifndef INTERNER_H
#define INTERNER_H

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

// Strings to dense indices, from 0 in the order first seen, without
// allocating to look one up.
class Interner
{
public:
    // *added tells whether s was new.
    uint32_t id(std::string_view s, bool *added = nullptr);
    const std::string &text(uint32_t id) const { return m_strings[id]; }
    size_t size() const { return m_strings.size(); }

private:
    std::deque<std::string> m_strings; // stable addresses for the views in m_ids
    std::unordered_map<std::string_view, uint32_t> m_ids;
};

#endif // INTERNER_H

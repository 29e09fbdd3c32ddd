#include "Interner.h"

uint32_t Interner::id(std::string_view s, bool *added)
{
    const auto it = m_ids.find(s);
    if (added)
        *added = it == m_ids.end();
    if (it != m_ids.end())
        return it->second;
    m_strings.emplace_back(s);
    const uint32_t n = uint32_t(m_strings.size() - 1);
    m_ids.emplace(m_strings.back(), n);
    return n;
}

#include "SharedTextCache.h"

#include <charconv>

template <int Capacity>
bool SharedTextCache::KeptText<Capacity>::keep(const QString &s, const char *begin, const char *end)
{
    if (end - begin > Capacity || !keepable(s))
        return false;
    held = s;
    identity = SharedTextCache::identity(s);
    bytes = int(end - begin);
    std::memcpy(text, begin, size_t(bytes));
    return true;
}

template struct SharedTextCache::KeptText<SharedTextCache::MaxBytes>;
template struct SharedTextCache::KeptText<SharedTextCache::NameBytes>;

void SharedTextCache::setSeq(quint64 seq)
{
    m_seq = seq;
    m_seqDigits = int(std::to_chars(m_seqText, m_seqText + sizeof(m_seqText), seq).ptr - m_seqText);
}

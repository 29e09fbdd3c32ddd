#include "SharedTextCache.h"

#include <charconv>

void SharedTextCache::keep(Slot &slot, const QString &s, const char *begin, const char *end)
{
    if (end - begin > MaxBytes || !keepable(s)) {
        slot.refused = identity(s);
        return;
    }
    slot.held = s;
    slot.heldIdentity = identity(s);
    slot.bytes = int(end - begin);
    std::memcpy(slot.text, begin, size_t(slot.bytes));
}

void SharedTextCache::keepName(NameSet &set, const QString &s, const char *begin, const char *end)
{
    if (end - begin > NameBytes)
        return;
    NameEntry &entry = set.ways[set.older];
    entry.held = s;
    entry.identity = identity(s);
    entry.bytes = int(end - begin);
    std::memcpy(entry.text, begin, size_t(entry.bytes));
    set.older = 1 - set.older;
}

void SharedTextCache::setSeq(quint64 seq)
{
    m_seq = seq;
    m_seqDigits = int(std::to_chars(m_seqText, m_seqText + sizeof(m_seqText), seq).ptr - m_seqText);
}

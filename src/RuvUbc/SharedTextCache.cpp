#include "SharedTextCache.h"

#include <charconv>

// Owned by Qt (literals and raw data are not, and a literal's data may go with
// its plugin) and shared with another string.
bool SharedTextCache::keepable(const QString &s)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QArrayData *d = s.data_ptr().d;
    return d && d->isShared();
#else
    const QStringData *d = const_cast<QString &>(s).data_ptr();
    return d->alloc && !d->ref.isStatic() && d->ref.isShared();
#endif
}

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
    if (end - begin > NameBytes || !keepable(s)) {
        set.refused = identity(s);
        return;
    }
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

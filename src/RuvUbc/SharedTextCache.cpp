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

void SharedTextCache::endNames(const Match &match, const QString *names, const char *begin, const char *end)
{
    if (match.command)
        return;
    CommandSet &set = m_commands[m_commandSet];
    const void *const id = identity(names[0]);
    if (id != set.seen[0] && id != set.seen[1]) {
        set.seen[1] = set.seen[0];
        set.seen[0] = id;
        return;
    }
    if (end - begin > CommandBytes)
        return;
    for (int i = 0; i < NameFields; ++i) {
        if (!names[i].isNull() && !keepable(names[i]))
            return;
    }
    Command &command = set.ways[set.older];
    for (int i = 0; i < NameFields; ++i)
        holdKey(command.held[i], command.raw + size_t(i) * sizeof(QString), names[i]);
    command.bytes = int(end - begin);
    std::memcpy(command.text, begin, size_t(command.bytes));
    set.older = 1 - set.older;
}

void SharedTextCache::setSeq(quint64 seq)
{
    m_seq = seq;
    m_seqDigits = int(std::to_chars(m_seqText, m_seqText + sizeof(m_seqText), seq).ptr - m_seqText);
}

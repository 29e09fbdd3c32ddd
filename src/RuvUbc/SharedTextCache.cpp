#include "SharedTextCache.h"

#include <charconv>

bool SharedTextCache::KeptText::keep(const QString &s, const char *begin, const char *end)
{
    if (end - begin > MaxBytes || !keepable(s))
        return false;
    held = s;
    identity = SharedTextCache::identity(s);
    bytes = int(end - begin);
    std::memcpy(text, begin, size_t(bytes));
    return true;
}

void SharedTextCache::namesMissed(const QString *names, const char *begin, const char *end)
{
    CommandSet &set = m_commands[m_commandSet];
    const void *const id = identity(names[0]);
    if (id != set.seen[0] && id != set.seen[1]) {
        set.seen[1] = set.seen[0];
        set.seen[0] = id;
        return;
    }
    if (end - begin > CommandBytes)
        return;
    int units = 0;
    for (int i = 0; i < NameFields; ++i) {
        if (names[i].isNull() || keepable(names[i]))
            continue;
        if (!byText(names[i]) || (units += int(names[i].size())) > CommandUnits)
            return;
    }
    Command &command = set.ways[set.older];
    command.byText = 0;
    command.texts.used = 0;
    for (int i = 0; i < NameFields; ++i) {
        const QString &name = names[i];
        char *const key = command.raw + size_t(i) * sizeof(QString);
        if (name.isNull() || keepable(name)) {
            holdKey(command.held[i], key, name);
        } else {
            keyOnly(command.held[i], key, name);
            command.texts.add(i, name);
            command.byText |= bit(i);
        }
    }
    command.bytes = int(end - begin);
    std::memcpy(command.text, begin, size_t(command.bytes));
    set.older = 1 - set.older;
}

void SharedTextCache::repeated(int slotIndex, const QString &s, const char *begin, const char *end)
{
    Slot &slot = m_slots[slotIndex];
    if (byText(s))
        m_shared |= quint64(1) << slotIndex;
    else if (slot.seen != slot.refused && !slot.kept.keep(s, begin, end))
        slot.refused = slot.seen;
}

void SharedTextCache::setSeq(quint64 seq)
{
    m_seq = seq;
    m_seqDigits = int(std::to_chars(m_seqText, m_seqText + sizeof(m_seqText), seq).ptr - m_seqText);
}

void SharedTextCache::endAttrs(const QMap<QString, QString> &attrs, const char *begin, const char *end)
{
    const int count = attrs.size();
    if (count > KeptAttrs || end - begin > AttrsBytes) {
        m_seenAttrs = -1;
        return;
    }
    // Kept once the same values, as they lie in the record, come twice.
    char values[KeptAttrs * sizeof(QString)] = {};
    bool held[KeptAttrs] = {};
    int i = 0;
    for (auto it = attrs.cbegin(); it != attrs.cend(); ++it, ++i) {
        const QString &value = it.value();
        held[i] = value.isNull() || keepable(value);
        if (it.key().size() > AttrTextUnits || (!held[i] && value.size() > AttrTextUnits)) {
            m_seenAttrs = -1;
            return;
        }
        std::memcpy(values + size_t(i) * sizeof(QString), bytesOf(value), sizeof(QString));
    }
    if (count != m_seenAttrs || std::memcmp(values, m_seenAttrValues, sizeof(values)) != 0) {
        m_seenAttrs = count;
        std::memcpy(m_seenAttrValues, values, sizeof(values));
        return;
    }
    m_attrs.texts.used = 0;
    m_attrs.valuesByText = 0;
    i = 0;
    for (auto it = attrs.cbegin(); it != attrs.cend(); ++it, ++i) {
        const QString &value = it.value();
        m_attrs.texts.add(2 * i, it.key());
        if (held[i]) {
            holdKey(m_attrs.held[i], m_attrs.raw + size_t(i) * sizeof(QString), value);
        } else {
            m_attrs.texts.add(2 * i + 1, value);
            m_attrs.valuesByText |= 1u << i;
            m_attrs.held[i] = QString();
        }
    }
    for (; i < KeptAttrs; ++i)
        m_attrs.held[i] = QString();
    m_attrs.count = count;
    m_attrs.bytes = int(end - begin);
    std::memcpy(m_attrs.text, begin, size_t(m_attrs.bytes));
}

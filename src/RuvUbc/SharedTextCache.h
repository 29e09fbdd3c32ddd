#ifndef SHAREDTEXTCACHE_H
#define SHAREDTEXTCACHE_H

#include <JsonString.h>
#include <RecordFormat/RecordFields.h>

#include <QtCore/QString>

#include <cstring>

// The JSON bytes of a record's fields that stay the same from record to
// record. The product, versions, machine and session that
// initUbcDataProtocol() puts in every record are copies of the same strings;
// so are a dictionary's names while one command repeats. A field's bytes are
// kept once the same string has filled it in two records running, keyed by
// the string's data, and a copy of the string is held: Qt copies a shared
// string before changing it, so the data cannot change under the key. Texts a
// record alone holds (its time), literals and raw data are written anew.
// One cache per thread: it is not locked.
class SharedTextCache
{
public:
    // The slots: the record's fields, then the first attributes' keys and
    // values in turn. Texts of other slots are written anew.
    static constexpr int AttributeSlots = 8;
    static constexpr int Slots = RecordFields::Count + AttributeSlots;

    // Writes s, the text of the slot, at p as JSON content (no quotes);
    // returns the end. Bytes from the cache are copied in blocks of 16, so up
    // to 15 bytes past the end may be written over.
    char *put(int slotIndex, char *p, const QString &s)
    {
        if (slotIndex >= Slots)
            return JsonString::put(p, s);
        Slot &slot = m_slots[slotIndex];
        const void *const id = identity(s);
        if (id == slot.heldIdentity && sameSize(s, slot.held)) {
            for (int at = 0; at < slot.bytes; at += Block)
                std::memcpy(p + at, slot.text + at, Block);
            return p + slot.bytes;
        }
        char *const end = JsonString::put(p, s);
        if (id == slot.seen && id != slot.refused)
            keep(slot, s, p, end);
        slot.seen = id;
        return end;
    }

private:
    static constexpr int Block = 16;
    static constexpr int MaxBytes = 8 * Block;

    struct Slot
    {
        const void *seen = nullptr; // the last record's text, not held
        const void *refused = nullptr; // a text that cannot be kept, not held
        const void *heldIdentity = nullptr;
        QString held;
        int bytes = 0;
        char text[MaxBytes];
    };

    // What a string's data is, read from the QString alone. A null string's
    // may match an unused slot's: it writes no bytes either way.
    static const void *identity(const QString &s)
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return s.data_ptr().ptr;
#else
        return const_cast<QString &>(s).data_ptr();
#endif
    }
    // Qt 6 keys by where the text starts, which a shorter string may share;
    // Qt 5's key is the whole string's data.
    static bool sameSize(const QString &a, const QString &b)
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return a.size() == b.size();
#else
        Q_UNUSED(a);
        Q_UNUSED(b);
        return true;
#endif
    }
    static bool keepable(const QString &s);
    // Keeps the bytes [begin, end) that s wrote, if s can be held.
    static void keep(Slot &slot, const QString &s, const char *begin, const char *end);

    Slot m_slots[Slots];
};

#endif // SHAREDTEXTCACHE_H

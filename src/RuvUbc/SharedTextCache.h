#ifndef SHAREDTEXTCACHE_H
#define SHAREDTEXTCACHE_H

#include <JsonString.h>
#include <RecordFormat/RecordFields.h>

#include <QtCore/QMap>
#include <QtCore/QString>

#include <cstring>

// The JSON bytes of a record's fields that stay the same from record to
// record. The product, versions, machine and session that
// initUbcDataProtocol() puts in every record are copies of the same strings;
// so are a dictionary's names while one command repeats. A field's bytes are
// kept once the same string has filled it in two records running, keyed by
// the string's data, and a copy of the string is held: Qt copies a shared
// string before changing it, so the data cannot change under the key. Texts
// that Qt does not own (literals, raw data) are kept only with a copy of
// their text, compared each time: in a run of fields, among a command's
// names, and as short attribute keys and values. Texts a record alone holds
// (its time) are written anew.
// One cache per thread (about 24 KB): it is not locked.
class SharedTextCache
{
public:
    // The slots: the record's fields, then the first attributes' keys and
    // values in turn. Texts of other slots are written anew.
    static constexpr int AttributeSlots = 8;
    static constexpr int Slots = RecordFields::Count + AttributeSlots;
    // The command's code, name and group: one block when kept.
    static constexpr int FirstName = RecordFields::Fncode;
    static constexpr int NameFields = 3;
    static constexpr quint32 NameBits = ((quint32(1) << NameFields) - 1) << FirstName;

    // Writes s, the text of the slot, at p as JSON content (no quotes);
    // returns the end. Bytes from the cache are copied in blocks, so up to
    // Overrun bytes past the end may be written over.
    static constexpr int Overrun = 31;
    char *put(int slotIndex, char *p, const QString &s)
    {
        // A command's names not kept as a command are written anew.
        if (slotIndex >= Slots || unsigned(slotIndex - FirstName) < unsigned(NameFields))
            return JsonString::put(p, s);
        Slot &slot = m_slots[slotIndex];
        const void *const id = identity(s);
        if (slot.kept.holds(id, s)) {
            m_shared |= quint64(1) << slotIndex;
            return slot.kept.copyTo(p);
        }
        char *const end = JsonString::put(p, s);
        if (id == slot.seen)
            repeated(slotIndex, s, p, end);
        slot.seen = id;
        return end;
    }
    // Notes an empty field: a null one, one whose string can be held or one
    // compared by its text may join a run.
    void putEmpty(int field, const QString &s)
    {
        if (s.isNull() || keepable(s) || byText(s))
            m_shared |= bit(field);
    }

    // Runs: fields next to each other whose strings were all kept (or empty)
    // in two records running are kept as one block of bytes, openings
    // included, with copies of their strings, or of their texts for strings
    // Qt does not own. A record whose strings for those fields are the very
    // same QStrings, compared as they lie in the record, and whose texts are
    // those, gets the block in one copy.
    struct Match
    {
        quint32 starts = 0; // the first field of each matched run or command
        quint32 inside = 0; // the others
        qint64 bytes = 0; // their bytes
        const char *command = nullptr; // the command's kept names, if matched
        int commandBytes = 0;
        quint32 covered() const { return starts | inside; }
    };
    // record: the record whose fields the runs were made from, as bytes.
    // names: the record's code, name and group, one after another.
    Q_ALWAYS_INLINE Match matchRuns(const void *record, const QString *names)
    {
        Match match;
        matchCommand(names, match);
        const char *const raw = static_cast<const char *>(record);
        for (int r = 0; r < m_runCount; ++r) {
            const Run &run = m_runs[r];
            const size_t at = size_t(run.first) * sizeof(QString);
            if (std::memcmp(raw + run.inRecord, m_raw + at, size_t(run.end - run.first) * sizeof(QString)) == 0
                && m_texts.same(run.byText, reinterpret_cast<const QString *>(raw + run.inRecord), run.first)) {
                match.starts |= bit(run.first);
                match.inside |= run.fields & ~bit(run.first);
                match.bytes += run.bytes;
            } else {
                m_runFailed = true;
            }
        }
        return match;
    }
    // Copies the matched command's names, openings included.
    static char *putCommand(const Match &match, char *p) { return copyBlocks(p, match.command, match.commandBytes); }
    // After the names, written anew at [begin, end) unless matched: they are
    // kept once the same code has missed twice.
    void endNames(const Match &match, const QString *names, const char *begin, const char *end)
    {
        if (!match.command)
            namesMissed(names, begin, end);
    }
    // Copies the matched run that starts at field first.
    char *putRun(int first, char *p) const
    {
        const Run &run = m_runs[m_runAt[first]];
        std::memcpy(p, m_runText + run.text, size_t(run.bytes));
        return p + run.bytes;
    }
    // After each record: when the same fields were shared in two records
    // running and the runs do not cover them as they are, the runs are made
    // again from this record. field(i) is the record's field i;
    // putFields(first, end, p) writes those fields' bytes at p and returns
    // the end.
    template <typename Field, typename PutFields>
    void endRecord(const void *record, const Match &match, Field field, PutFields putFields)
    {
        // A command's names change from record to record: never in a run.
        const quint32 shared = (quint32(m_shared) | match.covered()) & RecordFields::all & ~NameBits;
        if (shared == m_lastShared && (shared != m_runsFrom || m_runFailed))
            makeRuns(static_cast<const char *>(record), shared, field, putFields);
        m_lastShared = shared;
        m_shared = 0;
        m_runFailed = false;
    }

    // The attributes as one block: a host's records mostly carry the same
    // few, their keys literals and their values strings the facade keeps
    // while its place and layer stay. Once the same attributes came in two
    // records running, their bytes are kept: the keys, and short values that
    // Qt does not own, compared by their text (a literal's data may go with
    // its plugin); other values as the strings lie in the record. Returns
    // the kept bytes' size when the record's attributes are those, else -1.
    int matchAttrs(const QMap<QString, QString> &attrs) const
    {
        if (attrs.size() != m_attrs.count)
            return -1;
        // By count: a step past the last would be one more call into the map.
        auto it = attrs.cbegin();
        for (int i = 0; i < m_attrs.count; ++it) {
            const QString &value = it.value();
            if (!m_attrs.texts.same(2 * i, it.key())
                || !(m_attrs.valuesByText & (1u << i)
                         ? m_attrs.texts.same(2 * i + 1, value)
                         : std::memcmp(bytesOf(value), m_attrs.raw + size_t(i) * sizeof(QString), sizeof(QString)) == 0))
                return -1;
            if (++i == m_attrs.count)
                break;
        }
        return m_attrs.bytes;
    }
    // Copies the kept attributes, up to Overrun bytes past their end.
    char *putAttrs(char *p) const { return copyBlocks(p, m_attrs.text, m_attrs.bytes); }
    // After attributes written anew at [begin, end).
    void endAttrs(const QMap<QString, QString> &attrs, const char *begin, const char *end);

    // Writes the seq after this thread's last one in decimal at p, up to 24
    // bytes written; returns the end. The log takes the seq a line really
    // gets under its lock: the thread's next one unless another thread wrote
    // a line in between, and then setSeq() puts it right. So a thread's
    // records mostly have one digit changed.
    char *putSeq(char *p)
    {
        // The last digits are copied first and then changed in both places:
        // reading them whole just after one was changed would stall.
        std::memcpy(p, m_seqText, sizeof(m_seqText));
        if (bump(p)) {
            ++m_seq;
        } else {
            setSeq(m_seq + 1);
            std::memcpy(p, m_seqText, sizeof(m_seqText));
        }
        return p + m_seqDigits;
    }
    quint64 seq() const { return m_seq; }
    // The seq's digits as putSeq() last wrote them, or as setSeq() made them.
    const char *seqText() const { return m_seqText; }
    int seqDigits() const { return m_seqDigits; }
    void setSeq(quint64 seq);

private:
    static constexpr int Block = 16;
    // Copies kept bytes in blocks of 16, the first two always: most kept
    // texts are that short, and one straight copy costs less than a loop's
    // tests. Up to Overrun bytes past the end are written over.
    static char *copyBlocks(char *p, const char *text, int bytes)
    {
        static_assert(2 * Block == Overrun + 1, "the first copy is the longest overrun");
        std::memcpy(p, text, Overrun + 1);
        for (int at = Overrun + 1; at < bytes; at += Block)
            std::memcpy(p + at, text + at, Block);
        return p + bytes;
    }
    // A QString as it lies in memory: its data pointer (and in Qt 6 where
    // its text starts and its size), compared as a key.
    static const char *bytesOf(const QString &s) { return reinterpret_cast<const char *>(&s); }
    // Holds a copy of s and keys it by the copy's own bytes: a copy that is
    // not shared (Qt copies some strings whole) never matches.
    static void holdKey(QString &held, char *key, const QString &s)
    {
        held = s;
        std::memcpy(key, bytesOf(held), sizeof(QString));
    }
    // Keys by s as it lies, holding nothing: for a string compared by its
    // text, as a literal's data may go with its plugin.
    static void keyOnly(QString &held, char *key, const QString &s)
    {
        held = QString();
        std::memcpy(key, bytesOf(s), sizeof(QString));
    }

    // Whether n bytes at a and b are equal. Texts kept by copy are short:
    // up to 32 bytes are compared as two overlapping words from each end,
    // never reading past either text.
    static bool equalBytes(const char *a, const char *b, size_t n)
    {
        if (n > 32)
            return std::memcmp(a, b, n) == 0;
        if (n > 16)
            return (differ<quint64>(a, b, 0) | differ<quint64>(a, b, 8) | differ<quint64>(a, b, n - 16)
                    | differ<quint64>(a, b, n - 8))
                == 0;
        if (n >= 8)
            return (differ<quint64>(a, b, 0) | differ<quint64>(a, b, n - 8)) == 0;
        if (n >= 4)
            return (differ<quint32>(a, b, 0) | differ<quint32>(a, b, n - 4)) == 0;
        return n == 0 || differ<quint16>(a, b, 0) == 0;
    }
    // The bits in which the words at a + at and b + at differ.
    template <typename Word>
    static Word differ(const char *a, const char *b, size_t at)
    {
        return word<Word>(a + at) ^ word<Word>(b + at);
    }
    template <typename Word>
    static Word word(const char *p)
    {
        Word w;
        std::memcpy(&w, p, sizeof(w));
        return w;
    }

    // Copies of the texts of strings Qt does not own, by index, one after
    // another: a run's fields, a command's names, the attributes' keys and
    // values.
    template <int Strings, int Units>
    struct TextCopies
    {
        int used = 0;
        int at[Strings] = {};
        int size[Strings] = {};
        ushort units[Units];

        int room() const { return Units - used; }
        // Keeps a copy of string i's text, if it fits.
        bool add(int i, const QString &s)
        {
            if (s.size() > room())
                return false;
            at[i] = used;
            size[i] = int(s.size());
            std::memcpy(units + used, s.constData(), size_t(s.size()) * sizeof(ushort));
            used += int(s.size());
            return true;
        }
        bool same(int i, const QString &s) const
        {
            return s.size() == size[i]
                && equalBytes(reinterpret_cast<const char *>(s.constData()),
                              reinterpret_cast<const char *>(units + at[i]), size_t(size[i]) * sizeof(ushort));
        }
        // Whether the strings in mask have the texts kept; string i is
        // strings[i - first].
        bool same(quint32 mask, const QString *strings, int first = 0) const
        {
            for (; mask; mask &= mask - 1) {
                const int i = qCountTrailingZeroBits(mask);
                if (!same(i, strings[i - first]))
                    return false;
            }
            return true;
        }
    };
    static constexpr int MaxBytes = 8 * Block;
    // Runs of two fields or more; a field's opening is at most this long.
    static constexpr int MaxRuns = RecordFields::Count / 2;
    static constexpr int MaxOpening = 32;

    struct Run
    {
        int first = 0;
        int end = 0;
        quint32 fields = 0;
        quint32 byText = 0; // fields compared by their text
        qint64 inRecord = 0; // where its first field lies in the record
        int text = 0; // where its bytes start in m_runText
        int bytes = 0;
    };

    static constexpr quint32 bit(int field) { return quint32(1) << field; }

    // A text's JSON bytes, with a copy of its string.
    struct KeptText
    {
        const void *identity = nullptr;
        QString held;
        int bytes = 0;
        char text[MaxBytes];

        bool holds(const void *id, const QString &s) const { return id == identity && sameSize(s, held); }
        char *copyTo(char *p) const { return copyBlocks(p, text, bytes); }
        // Keeps the bytes [begin, end) that s wrote; false if s cannot be held.
        bool keep(const QString &s, const char *begin, const char *end);
    };

    // A command's code, name and group change from record to record, but a
    // host logs the same few commands again and again, each with the same
    // three strings (its dictionary's, or its literals). The three fields'
    // bytes, openings included, are kept by command in a table of two-way
    // sets, keyed (as a run is) by copies of the strings as they lie in a
    // record, and for strings Qt does not own by a copy of their text too.
    static constexpr int CommandSetBits = 4;
    static constexpr int CommandSets = 1 << CommandSetBits;
    static constexpr int CommandBytes = 16 * Block;
    static constexpr int CommandUnits = 32;
    struct Command
    {
        QString held[NameFields];
        alignas(QString) char raw[NameFields * sizeof(QString)] = {};
        int bytes = 0; // none: unused
        quint32 byText = 0; // the names compared by their text
        TextCopies<NameFields, CommandUnits> texts;
        char text[CommandBytes];

        // names: the record's three, one after another.
        bool holds(const QString *names) const
        {
            return bytes && std::memcmp(raw, bytesOf(names[0]), sizeof(raw)) == 0 && texts.same(byText, names);
        }
    };
    struct CommandSet
    {
        const void *seen[2] = {}; // the last two codes that missed, not held
        int older = 0; // the way to fill next
        Command ways[2];
    };

    void namesMissed(const QString *names, const char *begin, const char *end);
    void matchCommand(const QString *names, Match &match)
    {
        // The code's data address, mixed: its low bits are the allocator's.
        m_commandSet = int((quint64(quintptr(identity(names[0]))) * 0x9e3779b97f4a7c15ull) >> (64 - CommandSetBits));
        CommandSet &set = m_commands[m_commandSet];
        for (int way = 0; way < 2; ++way) {
            if (set.ways[way].holds(names)) {
                set.older = 1 - way;
                match.command = set.ways[way].text;
                match.commandBytes = set.ways[way].bytes;
                match.starts |= bit(FirstName);
                match.inside |= NameBits & ~bit(FirstName);
                match.bytes += set.ways[way].bytes;
                return;
            }
        }
    }

    struct Slot
    {
        const void *seen = nullptr; // the last record's text, not held
        const void *refused = nullptr; // a text that cannot be kept, not held
        KeptText kept;
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
    // Its data allocated by Qt: literals and raw data are not, and a
    // literal's data may go with its plugin.
    static bool ownedByQt(const QString &s)
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return s.data_ptr().d;
#else
        const QStringData *d = const_cast<QString &>(s).data_ptr();
        return d->alloc && !d->ref.isStatic();
#endif
    }
    // Owned by Qt and shared with another string: held, keyed by its data.
    static bool keepable(const QString &s) { return ownedByQt(s) && !s.isDetached(); }
    // Not owned by Qt, and short: kept by a copy of its text in a run or
    // among a command's names. Its string is never held.
    static bool byText(const QString &s) { return !ownedByQt(s) && !s.isNull() && s.size() <= MaxTextUnits; }
    // The slot's string filled it in the last record too, and wrote [begin,
    // end) now: its bytes are kept, or it may join a run by its text.
    void repeated(int slotIndex, const QString &s, const char *begin, const char *end);

    template <typename Field, typename PutFields>
    void makeRuns(const char *record, quint32 shared, Field field, PutFields putFields)
    {
        const auto inRecord = [&](int i) { return reinterpret_cast<const char *>(&field(i)) - record; };
        m_runCount = 0;
        quint32 inRuns = 0;
        int text = 0;
        m_texts.used = 0;
        for (int first = 0; first < RecordFields::Count && m_runCount < MaxRuns;) {
            // Fields kept, and lying one after another in the record; the
            // texts compared as they are must fit.
            int end = first;
            qint64 room = 0;
            int runUnits = 0;
            while (end < RecordFields::Count && (shared & bit(end))
                   && inRecord(end) == inRecord(first) + qint64(end - first) * qint64(sizeof(QString))) {
                const QString &s = field(end);
                if (byText(s) && (runUnits += int(s.size())) > m_texts.room())
                    break;
                room += MaxOpening + JsonString::MaxBytesPerUnit * qint64(s.size());
                ++end;
            }
            if (end - first < 2 || text + room > qint64(sizeof(m_runText)) - MaxOpening) {
                first = qMax(end, first + 1);
                continue;
            }
            Run &run = m_runs[m_runCount];
            m_runAt[first] = m_runCount++;
            run = {first, end, 0, 0, inRecord(first), text, 0};
            for (int i = first; i < end; ++i) {
                const QString &s = field(i);
                run.fields |= bit(i);
                if (byText(s)) {
                    run.byText |= bit(i);
                    keyOnly(m_held[i], m_raw + size_t(i) * sizeof(QString), s);
                    m_texts.add(i, s);
                    continue;
                }
                inRuns |= bit(i);
                holdKey(m_held[i], m_raw + size_t(i) * sizeof(QString), s);
            }
            run.bytes = int(putFields(first, end, m_runText + text) - (m_runText + text));
            text += run.bytes;
            first = end;
        }
        // Strings no run holds are let go.
        for (int i = 0; i < RecordFields::Count; ++i) {
            if (!(inRuns & bit(i)))
                m_held[i] = QString();
        }
        m_runsFrom = shared;
    }
    // Adds one to the digits, kept and copied at p; false when they all were
    // nines.
    bool bump(char *p)
    {
        for (int i = m_seqDigits - 1; i >= 0; --i) {
            if (m_seqText[i] != '9') {
                p[i] = ++m_seqText[i];
                return true;
            }
            p[i] = m_seqText[i] = '0';
        }
        return false;
    }

    static constexpr int KeptAttrs = 4;
    static constexpr int AttrTextUnits = 16;
    static constexpr int AttrsBytes = 16 * Block;
    struct Attrs
    {
        int count = -1; // none kept
        // Attribute i's key is text 2i, its value 2i + 1 when compared by
        // its text, else held and compared as it lies.
        TextCopies<2 * KeptAttrs, 2 * KeptAttrs * AttrTextUnits> texts;
        quint32 valuesByText = 0;
        QString held[KeptAttrs];
        alignas(QString) char raw[KeptAttrs * sizeof(QString)] = {};
        int bytes = 0;
        char text[AttrsBytes];
    };

    Slot m_slots[Slots];
    Attrs m_attrs;
    // The values of the last attributes written anew, as they lay in the
    // record (not held), and how many: kept if the next record's are these.
    int m_seenAttrs = -1;
    char m_seenAttrValues[KeptAttrs * sizeof(QString)] = {};
    CommandSet m_commands[CommandSets];
    int m_commandSet = 0; // the last record's set

    quint64 m_shared = 0; // slots that gave kept bytes in this record (and null fields)
    quint32 m_lastShared = 0;
    quint32 m_runsFrom = 0; // the shared fields the runs were made from
    bool m_runFailed = false;
    int m_runCount = 0;
    Run m_runs[MaxRuns];
    int m_runAt[RecordFields::Count] = {};
    QString m_held[RecordFields::Count];
    alignas(QString) char m_raw[RecordFields::Count * sizeof(QString)] = {};
    // Every field's bytes at most (each a kept text or empty), and the room
    // an opening's whole copy may write past the end.
    char m_runText[RecordFields::Count * (MaxOpening + MaxBytes) + MaxOpening];
    // The texts of the runs' fields compared by text.
    static constexpr int MaxTextUnits = 64;
    TextCopies<RecordFields::Count, 512> m_texts;

    quint64 m_seq = 0;
    int m_seqDigits = 0;
    char m_seqText[24] = {};
};

#endif // SHAREDTEXTCACHE_H

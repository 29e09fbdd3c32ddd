// The cleaning of property names in property-edit records: whatever the host
// passes, the result is the name with everything from the first "(" to the
// last ")" after it removed, and nothing else changed.

#include "FuzzSupport.h"

#include <KelUbcPrivate.h>

namespace {

bool hasUnpairedSurrogate(const QString &s)
{
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

QString expectedName(const QString &name)
{
    // Qt's regular expressions refuse a subject with an unpaired surrogate
    // and match nothing in it: such a name stays as it is.
    if (hasUnpairedSurrogate(name))
        return name;
    const int open = name.indexOf(QLatin1Char('('));
    const int close = name.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open)
        return name;
    return name.left(open) + name.mid(close + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString name = fuzz::text(std::string(reinterpret_cast<const char *>(bytes), size));
    const QString cleaned = KelUbcPrivate::cleanPropertyName(name);
    const QString expected = expectedName(name);
    fuzz::check(cleaned == expected, "cleanPropertyName",
                QStringLiteral("in:  %1\nout: %2\nwant: %3").arg(name, cleaned, expected));
    return 0;
}

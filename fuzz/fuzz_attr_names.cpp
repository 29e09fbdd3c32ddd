// Named events with a list of values, through the facade: the dictionary
// row's attribute names are split at ";" (empty parts kept) and paired with
// the values in order; a later equal name wins; extra names or values are
// ignored; "layer" and "region" are added unless the caller gave them. The
// row is put straight into the library's cache, so no database is involved.

#include "FuzzSupport.h"

#include <KelUbc.h>
#include <KelUbcPrivate.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>

namespace {

QList<UbcDataProtocol> g_logged;

QStringList splitKeepingEmpty(const QString &names)
{
    QStringList parts;
    QString part;
    for (const QChar c : names) {
        if (c == QLatin1Char(';')) {
            parts << part;
            part.clear();
        } else {
            part += c;
        }
    }
    parts << part;
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(fuzz::quietMessages);
    static QCoreApplication app(*argc, *argv); // libFuzzer's argc outlives it
    RuvUbc::instance()->setLogFilePath(QStringLiteral("/dev/null"));
    RuvUbc::instance()->addListener([](const UbcDataProtocol &r) { g_logged << r; });
    KelUbc::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const uint8_t flags = data.ConsumeIntegral<uint8_t>();
    const QString code = fuzz::text(data, 16);
    FuncDictEntry entry;
    entry.fnName = fuzz::text(data, 16);
    entry.fnGroup = fuzz::text(data, 16);
    const QString attrNames = fuzz::text(data);
    entry.fnAttrNames = FuncDictEntry::splitAttrNames(attrNames);
    entry.fnAddLayer = flags & 1;
    entry.fnAddRegion = flags & 2;
    const bool single = flags & 4;
    const QString layer = fuzz::text(data, 16);
    const QString region = fuzz::text(data, 16);
    QStringList values;
    while (data.remaining_bytes() > 0 && values.size() < 64)
        values << fuzz::text(data, 32);
    if (single)
        values = QStringList(values.value(0));

    KelUbc *ubc = KelUbc::instance();
    KelUbcPrivate *d = KelUbcPrivate::get(ubc);
    d->replaceDictionaryForTesting(code, entry);
    ubc->setCurLayer(layer);
    ubc->setCurRegion(region);
    g_logged.clear();
    if (single)
        ubc->send(code, values.first());
    else
        ubc->send(code, values);

    if (code.isEmpty() || entry.fnName.isEmpty()) {
        fuzz::check(g_logged.isEmpty(), "a record without code or name was logged");
        return 0;
    }
    fuzz::check(g_logged.size() == 1, "not exactly one record");
    const UbcDataProtocol &r = g_logged.first();
    fuzz::check(r.fncode == code && r.fnname == entry.fnName, "code or name changed");
    fuzz::check(r.fngroup == (entry.fnGroup.isEmpty() ? QStringLiteral("null") : entry.fnGroup),
                "group");

    QMap<QString, QString> expected;
    if (!values.isEmpty()) {
        const QStringList names = splitKeepingEmpty(attrNames);
        for (int i = 0; i < names.size() && i < values.size(); ++i)
            expected[names[i]] = values[i];
    }
    if (entry.fnAddLayer && !expected.contains(QStringLiteral("layer")))
        expected[QStringLiteral("layer")] = layer;
    if (entry.fnAddRegion && !expected.contains(QStringLiteral("region")))
        expected[QStringLiteral("region")] = region;
    fuzz::check(r.attrs == expected, "attributes",
                QStringLiteral("names: %1\nvalues: %2").arg(attrNames, values.join(QLatin1Char('|'))));
    return 0;
}

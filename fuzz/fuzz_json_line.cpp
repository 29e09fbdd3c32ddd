// The record line of the behaviour log: for any field and attribute text,
// control characters, U+0000 and unpaired surrogates included, the line is
// one line of valid JSON that reads back to the same record (each unpaired
// surrogate as U+FFFD), both with a strict reader and with QJsonDocument
// (what Qt hosts read it with).

#include "FuzzSupport.h"
#include "StrictJsonLine.h"

#include <RuvUbc.h>

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace {

// The text as it reads back: a surrogate without its partner becomes U+FFFD.
QString readBack(QString s)
{
    for (int i = 0; i < s.size(); ++i) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (s.at(i).isSurrogate())
            s[i] = QChar(QChar::ReplacementCharacter);
    }
    return s;
}

QStringList fieldValues(const UbcDataProtocol &r)
{
    return {r.pcode, r.fncode, r.fnname, r.fngroup, r.trigertime, r.gid, r.vername, r.ver, r.ver2,
            r.debug, r.usetype, r.utype, r.mac, r.hardwareid, r.ip, r.projectid, r.prjfullpath,
            r.prjtext, r.prjedocnt, r.prjsize, r.prjcost, r.regionrule, r.major, r.duration,
            r.sessionid};
}

void setField(UbcDataProtocol &r, int index, const QString &value)
{
    QString *const fields[] = {&r.pcode, &r.fncode, &r.fnname, &r.fngroup, &r.trigertime, &r.gid,
                               &r.vername, &r.ver, &r.ver2, &r.debug, &r.usetype, &r.utype, &r.mac,
                               &r.hardwareid, &r.ip, &r.projectid, &r.prjfullpath, &r.prjtext,
                               &r.prjedocnt, &r.prjsize, &r.prjcost, &r.regionrule, &r.major,
                               &r.duration, &r.sessionid};
    *fields[index] = value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QStringList names = RuvUbc::fieldNames();
    FuzzedDataProvider data(bytes, size);
    UbcDataProtocol record;
    // A few fields get the fuzz text; the rest keep a fixed value, so that
    // short inputs still reach the attributes.
    const int filled = data.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < filled; ++i) {
        const int index = data.ConsumeIntegralInRange<int>(0, names.size() - 1);
        setField(record, index, fuzz::text(data, 64));
    }
    const int attrCount = data.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < attrCount; ++i) {
        const QString key = fuzz::text(data, 32);
        record.attrs.insert(key, fuzz::text(data, 64));
    }
    const quint64 seq = data.ConsumeIntegral<quint64>();
    const QByteArray line = RuvUbc::toJsonLine(record, seq);

    fuzz::check(line.endsWith('\n') && line.indexOf('\n') == line.size() - 1,
                "not exactly one line", QString::fromLatin1(line.toHex()));
    const QByteArray json = line.chopped(1);

    StrictJsonLine reader;
    StrictJsonLine::Members fields;
    StrictJsonLine::Members attrs;
    fuzz::check(reader.parse(json, &fields, &attrs) && reader.sawAttrs(), "strict reader",
                reader.error() + QLatin1Char('\n') + QString::fromLatin1(json.toHex()));
    QStringList values = fieldValues(record);
    for (QString &value : values)
        value = readBack(value);
    fuzz::check(fields.size() == names.size() + 1, "field count");
    for (int i = 0; i < names.size(); ++i) {
        fuzz::check(fields[i].first == names[i], "field order");
        fuzz::check(fields[i].second == values[i], "field value", names[i]);
    }
    fuzz::check(fields.last().first == QLatin1String("seq")
                    && fields.last().second == QString::number(seq), "seq");
    fuzz::check(attrs.size() == record.attrs.size(), "attribute count");
    int i = 0;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it, ++i)
        fuzz::check(attrs[i].first == readBack(it.key()) && attrs[i].second == readBack(it.value()), "attribute");

    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    fuzz::check(error.error == QJsonParseError::NoError, "QJsonDocument", error.errorString());
    for (int f = 0; f < names.size(); ++f)
        fuzz::check(object.value(names[f]).toString() == values[f], "QJsonDocument field", names[f]);
    // Walked, not looked up: with unpaired surrogates in keys, QJsonObject's
    // look-up order disagrees with its own sort order and misses keys it holds.
    const QJsonObject jsonAttrs = object.value(QStringLiteral("attrs")).toObject();
    QMap<QString, QString> readAttrs;
    for (auto it = jsonAttrs.begin(); it != jsonAttrs.end(); ++it)
        readAttrs.insert(it.key(), it.value().toString());
    // Keys that differ only in their lone surrogates read back as one.
    QMap<QString, QString> expected;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it)
        expected.insert(readBack(it.key()), readBack(it.value()));
    fuzz::check(expected.size() < record.attrs.size() ? readAttrs.keys() == expected.keys() : readAttrs == expected,
                "QJsonDocument attributes");
    return 0;
}

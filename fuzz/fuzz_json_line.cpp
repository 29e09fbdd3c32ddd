// The record line of the behaviour log: for any field and attribute text,
// control characters, U+0000 and unpaired surrogates included, the line is
// one line of valid JSON that reads back to the same record (each unpaired
// surrogate as U+FFFD), both with the record reader and with QJsonDocument
// (what Qt hosts read it with).

#include "FuzzSupport.h"
#include "StrictJsonLine.h"

#include <RecordFormat/RecordIdentity.h>
#include <RecordFormat/RecordLineReader.h>
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

// UTF-8 to UTF-16, leading U+FEFFs kept (QString::fromUtf8 drops the first,
// and would drop the next one after it too).
QString qs(std::string_view s)
{
    QString out;
    while (s.size() >= 3 && s.compare(0, 3, "\xef\xbb\xbf") == 0) {
        out += QChar(0xfeff);
        s.remove_prefix(3);
    }
    return out + QString::fromUtf8(s.data(), int(s.size()));
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
    // The seq values RuvUbc numbers records with.
    const quint64 seq = 1 + data.ConsumeIntegral<quint64>() % RecordIdentity::MaxSeq;
    const QByteArray line = RuvUbc::toJsonLine(record, seq);

    fuzz::check(line.endsWith('\n') && line.indexOf('\n') == line.size() - 1,
                "not exactly one line", QString::fromLatin1(line.toHex()));
    const QByteArray json = line.chopped(1);
    const std::string_view text(json.constData(), size_t(json.size()));

    static RecordLineReader reader;
    LogRecord r;
    const char *why = reader.read(text, r);
    fuzz::check(!why, "record reader", QLatin1String(why) + QLatin1Char('\n') + QString::fromLatin1(json.toHex()));
    fuzz::check(!StrictJsonLine::escapesSurrogate(text), "surrogate escape", QString::fromLatin1(json));
    std::vector<std::string> members;
    fuzz::check(StrictJsonLine::memberNames(text, &members), "member names");
    fuzz::check(int(members.size()) == names.size() + 2 && members[size_t(names.size())] == "seq"
                    && members.back() == "attrs", "member count");
    QStringList values = fieldValues(record);
    for (QString &value : values)
        value = readBack(value);
    for (int i = 0; i < names.size(); ++i) {
        fuzz::check(QString::fromStdString(members[size_t(i)]) == names[i], "field order");
        fuzz::check(qs(r.fields[i]) == values[i], "field value", names[i]);
    }
    fuzz::check(r.seq == seq, "seq");
    fuzz::check(int(r.attrs.size()) == record.attrs.size(), "attribute count");
    int i = 0;
    for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it, ++i)
        fuzz::check(qs(r.attrs[size_t(i)].key) == readBack(it.key()) && qs(r.attrs[size_t(i)].value) == readBack(it.value()),
                    "attribute");

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

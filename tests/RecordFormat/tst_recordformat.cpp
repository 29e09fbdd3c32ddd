// The record format: trigertime, the reader against RuvUbc's writer, the
// identity of a line without seq, the label table and the journal reader.

#include <RecordRowWriter.h>
#include <RecordFormat/JournalLineReader.h>
#include <RecordFormat/RecordGenerator.h>
#include <RecordFormat/RecordIdentity.h>
#include <RecordFormat/RecordLabels.h>
#include <RecordFormat/RecordLineReader.h>
#include <RecordFormat/RecordCodes.h>
#include <RecordFormat/TrigerTime.h>

#include <QtTest/QtTest>

#include <unordered_set>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <iconv.h>
#endif

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), int(s.size())); }

std::string_view sv(const QByteArray &b) { return std::string_view(b.constData(), size_t(b.size())); }

// GBK decoded by the system, not by Qt.
QByteArray fromGbk(const char *gbk)
{
#ifdef Q_OS_WIN
    wchar_t wide[64];
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, -1, wide, 64);
    return n > 0 ? QString::fromWCharArray(wide, n - 1).toUtf8() : QByteArray();
#else
    iconv_t cd = iconv_open("UTF-8", "GBK");
    char in[64], out[128];
    qstrncpy(in, gbk, sizeof in);
    char *ip = in, *op = out;
    size_t il = strlen(in), ol = sizeof out;
    const size_t done = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return done == size_t(-1) ? QByteArray() : QByteArray(out, int(op - out));
#endif
}

UbcDataProtocol sample()
{
    UbcDataProtocol r;
    r.pcode = QStringLiteral("KELDEMO");
    r.fncode = QStringLiteral("210101");
    r.fnname = QStringLiteral("绘制墙 \"引号\" \\ 反斜杠\t制表");
    r.fngroup = QStringLiteral("绘图");
    r.trigertime = QStringLiteral("2026-12-05T16:02:11.347+08:00");
    r.prjfullpath = QStringLiteral("C:\\工程\\demo.kelprj");
    r.duration = QString(QChar(1)) + QStringLiteral("\n") + QString::fromUtf16(u"\U0001F600");
    r.sessionid = QStringLiteral("5b0e-会话");
    r.attrs = {{QStringLiteral("location"), QStringLiteral("Ribbon工具栏")},
               {QStringLiteral("键\"\\"), QStringLiteral("值\r\n")}, {QString(), QString()}};
    return r;
}

} // namespace

class tst_RecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void trigerTime()
    {
        struct Case { const char *text; qint64 ms; const char *utc; }; // ms -1: not a time
        const Case cases[] = {
            {"2026-12-05T16:02:11.347+08:00", 1796457731347, "2026-12-05 08:02:11"},
            {"2026-12-05T16:02:11.347+0800", 1796457731347, "2026-12-05 08:02:11"},
            {"2026-12-05 08:02:11Z", 1796457731000, "2026-12-05 08:02:11"},
            {"2026-12-05T08:02:11", 1796457731000, "2026-12-05 08:02:11"},
            {"2026-12-05T08:02:11.3", 1796457731300, "2026-12-05 08:02:11"},
            {"2026-12-05T08:02:11.123456-00:00", 1796457731123, "2026-12-05 08:02:11"},
            // Half-hour zones, and across a day, a month and a year.
            {"2026-12-05T02:00:00.000+05:30", 1796416200000, "2026-12-04 20:30:00"},
            {"2024-02-29T23:30:00.000-09:30", 1709283600000, "2024-03-01 09:00:00"},
            {"2026-12-31T23:59:59.999-01:00", 1798765199999, "2027-01-01 00:59:59"},
            // Times a DateTime column cannot hold are still times.
            {"1970-01-01T07:59:59.000+08:00", -1000, nullptr},
            {"2106-01-01T00:00:00Z", 4291747200000, nullptr},
            // Not times.
            {"", -1, nullptr}, {"2026-12-05", -1, nullptr}, {"2026-12-05T16:02", -1, nullptr},
            {"2026-13-05T16:02:11Z", -1, nullptr}, {"2026-12-05T24:00:00Z", -1, nullptr},
            {"2026-12-05T16:02:11+08", -1, nullptr}, {"2026-12-05T16:02:11+08:60", -1, nullptr},
            {"2026-12-05T16:02:11+24:00", -1, nullptr}, {"2026-12-05T16:02:11.347+08:00 ", -1, nullptr},
            {"2026-12-05T16:02:11x", -1, nullptr}, {"2026-1x-05T16:02:11Z", -1, nullptr},
            {"２026-12-05T16:02:11Z", -1, nullptr},
        };
        for (const Case &c : cases) {
            qint64 ms = -1;
            const bool isTime = TrigerTime::toEpochMs(c.text, reinterpret_cast<int64_t *>(&ms));
            QVERIFY2(isTime == (c.ms != -1), c.text);
            if (isTime)
                QVERIFY2(ms == c.ms, qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.text)).arg(ms)));
            char utc[19];
            const bool inRange = RecordRowWriter::utcTime(c.text, int(strlen(c.text)), utc);
            QVERIFY2(inRange == (c.utc != nullptr), c.text);
            if (c.utc)
                QCOMPARE(QByteArray(utc, 19), QByteArray(c.utc));
        }
        QCOMPARE(TrigerTime::secondsOf(-1), int64_t(-1));
    }

    void readerReadsWhatTheWriterWrites()
    {
        // Escapes, control characters, CJK and a pair outside the BMP, in
        // fields, attribute names and values; the generator's records too.
        QVector<UbcDataProtocol> records{sample(), UbcDataProtocol()};
        records[1].fncode = QStringLiteral("1");
        records[1].trigertime = QStringLiteral("t");
        RecordGenerator::Options options;
        options.profile = RecordGenerator::Sessions;
        options.count = 300;
        RecordGenerator generator(options);
        QByteArray lines;
        while (generator.next(lines)) {}
        RecordLineReader reader;
        LogRecord r;
        int n = 0;
        quint64 seq = 0;
        for (const QByteArray &line : lines.split('\n')) {
            if (line.isEmpty())
                continue;
            ++n;
            QVERIFY2(!reader.read(sv(line), r), line.constData());
            QVERIFY(r.seq == seq + 1 || (r.seq == 1 && seq > 1)); // sessions numbered from 1
            seq = r.seq;
            QVERIFY(r.has(RecordFields::Sessionid) && r.scalars == 0);
        }
        QCOMPARE(n, 300);

        for (const UbcDataProtocol &record : records) {
            const QByteArray line = RuvUbc::toJsonLine(record, 4242).chopped(1);
            QVERIFY2(!reader.read(sv(line), r), line.constData());
            QCOMPARE(r.present, RecordFields::bit(RecordFields::Count) - 1);
            // Fields, seq, then each attribute's name and value, in order.
            QStringList got{qs(r.text(RecordFields::Fnname)), qs(r.text(RecordFields::Duration)),
                            qs(r.text(RecordFields::Sessionid)), QString::number(r.seq)};
            QStringList want{record.fnname, record.duration, record.sessionid, QStringLiteral("4242")};
            for (const auto &attr : r.attrs)
                got << qs(attr.key) << qs(attr.value);
            for (auto it = record.attrs.cbegin(); it != record.attrs.cend(); ++it)
                want << it.key() << it.value();
            QCOMPARE(got, want);
        }
    }

    void readerRefusesWhatIsNoRecord()
    {
        const QByteArray good = RuvUbc::toJsonLine(sample(), 7).chopped(1);
        struct Case { QByteArray line; const char *why; }; // why null: a record
        const QVector<Case> cases{
            {good, nullptr},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"extra\":[1,{}]}", nullptr},
            {"{\"fncode\":1,\"trigertime\":null,\"debug\":true}", nullptr},
            {"", "not JSON"}, {"[1]", "not a JSON object"}, {"\"text\"", "not a JSON object"},
            {good + "}", "text after the record"}, {good + " {}", "text after the record"},
            {good.left(good.size() - 5), "not JSON"},
            {"{\"sessionid\":\"s\",\"seq\":1}", nullptr},
            {"{}", "no sessionid and seq, nor fncode and trigertime"},
            {"{\"fncode\":\"1\",\"sessionid\":\"s\"}", "no sessionid and seq, nor fncode and trigertime"},
            {"{\"trigertime\":\"t\",\"seq\":1}", "no sessionid and seq, nor fncode and trigertime"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"fncode\":\"2\"}", "a field is named twice"},
            {"{\"fncode\":{},\"trigertime\":\"t\"}", "a field is not a string"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"seq\":0}", "seq is not a positive integer"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"seq\":\"3\"}", "seq is not a positive integer"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"seq\":9223372036854775808}", "seq is not a positive integer"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"attrs\":[]}", "attrs is not an object"},
            {"{\"fncode\":\"1\",\"trigertime\":\"t\",\"attrs\":{\"a\":1}}", "attrs holds a value that is not a string"},
            {"{\"fncode\":\"1\",\"trigertime\":\"\x01\"}", "not JSON"},
            {"{\"fncode\":\"\xc3\x28\",\"trigertime\":\"t\"}", "not JSON"}, // not UTF-8
            {"{\"fncode\":\"\\x\",\"trigertime\":\"t\"}", "broken JSON"},
            {"{\"sessionid\":7,\"seq\":1}", "sessionid is not a string"},
        };
        // A reader that fills no field's text refuses the same lines.
        RecordLineReader reader, textless(0);
        LogRecord r;
        for (const Case &c : cases) {
            for (RecordLineReader *rr : {&reader, &textless}) {
                const char *why = rr->read(sv(c.line), r);
                QVERIFY2(qstrcmp(why, c.why) == 0, qPrintable(QStringLiteral("%1: %2").arg(QString::fromUtf8(c.line), QLatin1String(why))));
            }
        }
        // Scalars are kept as written.
        QVERIFY(!reader.read("{\"fncode\":12 ,\"trigertime\":\"t\",\"debug\":false,\"mac\":null}", r));
        QCOMPARE(qs(r.text(RecordFields::Fncode)) + qs(r.text(RecordFields::Debug)) + qs(r.text(RecordFields::Mac)),
                 QStringLiteral("12falsenull"));
        QCOMPARE(r.scalars, RecordFields::bit(RecordFields::Fncode) | RecordFields::bit(RecordFields::Debug)
                                | RecordFields::bit(RecordFields::Mac));
    }

    void readerFillsOnlyWantedFields()
    {
        // Fields outside the reader's set are present but left empty,
        // escaped or not; seq and attrs are read all the same.
        const UbcDataProtocol record = sample();
        const QByteArray line = RuvUbc::toJsonLine(record, 9).chopped(1);
        RecordLineReader reader(RecordFields::bit(RecordFields::Fncode) | RecordFields::bit(RecordFields::Duration));
        LogRecord r;
        QVERIFY(!reader.read(sv(line), r));
        QCOMPARE(r.present, RecordFields::all);
        QCOMPARE(qs(r.text(RecordFields::Fncode)), record.fncode);
        QCOMPARE(qs(r.text(RecordFields::Duration)), record.duration);
        for (RecordFields::Field f : {RecordFields::Fnname, RecordFields::Pcode, RecordFields::Prjfullpath, RecordFields::Sessionid})
            QVERIFY2(r.text(f).empty(), RecordFields::names[f].data());
        QCOMPARE(r.seq, quint64(9));
        QCOMPARE(int(r.attrs.size()), record.attrs.size());
    }

    void derivedIdentity()
    {
        // Lines without seq: each its own identity, above every real seq, the
        // same each time it is read; the reader and the row writer agree.
        RecordGenerator::Options options;
        options.count = 20000;
        options.machines = 7;
        options.withSeq = false;
        options.base.pcode = QStringLiteral("OTHER");
        RecordGenerator generator(options);
        RecordLineReader reader;
        RecordRowWriter rows;
        LogRecord r;
        std::unordered_set<quint64> seen;
        QByteArray line, row;
        for (int i = 0; i < options.count; ++i) {
            line.clear();
            QVERIFY(generator.next(line));
            QVERIFY2(!line.contains("\"seq\"") && line.contains("\"sessionid\""), line.constData());
            line.chop(1);
            QVERIFY2(!reader.read(sv(line), r), line.constData());
            QVERIFY(RecordIdentity::isDerived(r.seq));
            QVERIFY2(seen.insert(r.seq).second, line.constData());
            QCOMPARE(RecordIdentity::derivedSeq(sv(line)), r.seq);
            if (i % 1000 == 0) {
                row.clear();
                line.append(QByteArray(RecordRowWriter::Padding, ' '));
                QVERIFY(rows.append(line.constData(), line.size() - RecordRowWriter::Padding, row));
                QVERIFY2(row.contains(",\"seq\":" + QByteArray::number(quint64(r.seq)) + ",\"attrs.key\""), row.constData());
            }
        }
        // A real seq names the record only with its session: without one,
        // the content does, and the row carries the empty session.
        const QByteArray noSession = "{\"fncode\":\"1\",\"trigertime\":\"t\",\"seq\":5}";
        QVERIFY(!reader.read(sv(noSession), r));
        QCOMPARE(r.seq, RecordIdentity::derivedSeq(sv(noSession)));
        QVERIFY(!reader.read("{\"fncode\":\"1\",\"trigertime\":\"t\",\"sessionid\":\"\",\"seq\":5}", r));
        QCOMPARE(r.seq, quint64(5));
        QVERIFY(!reader.read("{\"fncode\":\"1\",\"trigertime\":\"t\",\"sessionid\":\"s\",\"seq\":9223372036854775807}", r));
        QVERIFY(!RecordIdentity::isDerived(r.seq));
        QByteArray padded = noSession + QByteArray(RecordRowWriter::Padding, ' ');
        row.clear();
        QVERIFY(rows.append(padded.constData(), noSession.size(), row));
        QCOMPARE(row, "{\"fncode\":\"1\",\"trigertime\":\"t\",\"sessionid\":\"\",\"seq\":"
                          + QByteArray::number(quint64(RecordIdentity::derivedSeq(sv(noSession))))
                          + ",\"attrs.key\":[],\"attrs.value\":[],\"time\":\"1970-01-01 00:00:00\"}\n");
    }

    void rowWriter()
    {
        auto row = [](const QByteArray &line) {
            QByteArray out("prefix");
            const QByteArray padded = line + QByteArray(RecordRowWriter::Padding, ' ');
            RecordRowWriter writer;
            if (!writer.append(padded.constData(), line.size(), out))
                return out == "prefix" ? QByteArray() : QByteArray("changed on failure");
            return out.mid(6);
        };
        // The table's columns, the identity, the attributes as two arrays and
        // the time in UTC; a member the table lacks is left out.
        const UbcDataProtocol record = sample();
        QByteArray line = RuvUbc::toJsonLine(record, 42).trimmed();
        line.replace("\"attrs\":", "\"extra\":{\"a\":[1]},\"attrs\":");
        QByteArray expected = RuvUbc::toJsonLine(record, 42).trimmed();
        expected.chop(1);
        expected.replace(expected.indexOf(",\"attrs\":"), 1000, ",\"attrs.key\":[\"\",\"location\",\"键\\\"\\\\\"],"
                         "\"attrs.value\":[\"\",\"Ribbon工具栏\",\"值\\r\\n\"],\"time\":\"2026-12-05 08:02:11\"}\n");
        QCOMPARE(row(line), expected);

        // Scalars other than strings go through for the server to judge; no time: the epoch.
        QCOMPARE(row("{\"fncode\":123,\"trigertime\":true,\"sessionid\":\"s\",\"seq\":5,\"attrs\":{}}"),
                 QByteArray("{\"fncode\":123,\"trigertime\":true,\"sessionid\":\"s\",\"seq\":5,\"attrs.key\":[],"
                            "\"attrs.value\":[],\"time\":\"1970-01-01 00:00:00\"}\n"));
        // Not records (the reader's refusals, tested above): out unchanged.
        for (const char *bad : {"{\"pcode\":\"\",\"fncode\":\"21", "{}"})
            QVERIFY2(row(bad).isEmpty(), bad);
    }

    void labels()
    {
        // The GBK source texts say what the UTF-8 ones say; every text and
        // key names one label; the newest labels come last.
        std::unordered_set<std::string_view> texts;
        for (int i = 0; i < RecordLabels::LabelCount; ++i) {
            const RecordLabels::Text &t = RecordLabels::labelTexts[i];
            QCOMPARE(fromGbk(t.source), QByteArray(t.chinese));
            for (const char *text : {t.chinese, t.english, t.key})
                QVERIFY2(texts.insert(text).second, text);
            RecordLabels::Language language = RecordLabels::English;
            QCOMPARE(RecordLabels::find(t.chinese, &language), i);
            QCOMPARE(language, RecordLabels::Chinese);
            QCOMPARE(RecordLabels::find(t.english, &language), i);
            QCOMPARE(language, RecordLabels::English);
        }
        QCOMPARE(RecordLabels::find("Ribbon"), -1);
        QCOMPARE(int(RecordLabels::LabelMenuBar), RecordLabels::LabelCount - 1);
        QVERIFY(RecordCodes::isLifecycle("990007") && !RecordCodes::isLifecycle("990008")
                && !RecordCodes::isLifecycle("99000"));
    }

    void journalReader()
    {
        struct Case { QByteArray line; const char *why; const char *tjsc; };
        const QVector<Case> cases{
            {"{\"time\":\"2026-12-05T08:02:11.347Z\",\"code\":\"210101\",\"attrs\":{\"layer\":\"A\",\"tjsc\":\"12\"}}", nullptr, "12"},
            {"{\"time\":\"2026-12-05\",\"code\":\"18446744073709551615\",\"attrs\":null}", nullptr, nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"more\":[]}", nullptr, nullptr},
            {"{\"time\":\"2026-12\",\"code\":\"1\",\"attrs\":null}", "time, code or attrs missing", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"\",\"attrs\":null}", "time, code or attrs missing", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\"}", "time, code or attrs missing", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":1,\"attrs\":null}", "code is not a string", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":[]}", "attrs is not an object", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"code\":\"2\",\"attrs\":null}", "a member is named twice", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null} {}", "text after the event", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"sessionid\":\"s\",\"seq\":0}", "seq is not a positive integer", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"seq\":9223372036854775808}", "seq is not a positive integer", nullptr},
            {"{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"gid\":1}", "an identity member is not a string", nullptr},
        };
        JournalLineReader reader;
        JournalEvent e;
        for (const Case &c : cases) {
            const char *why = reader.read(sv(c.line), e);
            QVERIFY2(qstrcmp(why, c.why) == 0, qPrintable(QStringLiteral("%1: %2").arg(QString::fromUtf8(c.line), QLatin1String(why))));
            if (!why) {
                QCOMPARE(e.attr("tjsc") ? e.attr("tjsc")->value.data() != nullptr : false, c.tjsc != nullptr);
                if (c.tjsc)
                    QCOMPARE(qs(e.attr("tjsc")->value), QLatin1String(c.tjsc));
                QCOMPARE(e.attrsNull, c.line.contains("null"));
            }
        }

        // Named as the helper named it; a seq without its session names nothing.
        QVERIFY(!reader.read("{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"pcode\":\"P\",\"gid\":\"g\",\"sessionid\":\"s\",\"seq\":7}", e));
        QVERIFY(e.seq == 7 && e.sessionid == "s" && e.pcode == "P" && e.gid == "g");
        const std::string_view bare = "{\"time\":\"2026-12-05\",\"code\":\"1\",\"attrs\":null,\"seq\":7}";
        QVERIFY(!reader.read(bare, e));
        QVERIFY(e.sessionid.empty() && e.seq == RecordIdentity::derivedSeq(bare));
    }
};

QTEST_GUILESS_MAIN(tst_RecordFormat)
#include "tst_recordformat.moc"

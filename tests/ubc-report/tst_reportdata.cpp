#include "ClickHouseQueries.h"
#include "ClickHouseResult.h"
#include "ReportData.h"
#include "SeqSet.h"

#include <QtTest>

using namespace UbcReport;

class TestReportData : public QObject
{
    Q_OBJECT

private slots:
    void seqSetCountsEachNumberOnceInAnyOrder()
    {
        SeqSet s;
        for (uint64_t n : {1, 2, 3, 4})
            QVERIFY(s.insert(n));
        QCOMPARE(s.runCount(), size_t(1));
        QVERIFY(!s.insert(3));
        QVERIFY(s.insert(10));
        QVERIFY(s.insert(8));
        QCOMPARE(s.runCount(), size_t(3));
        // 9 joins 8 and 10, 5 joins 1-4 and 6, 7 makes everything one run again.
        for (uint64_t n : {9, 6, 5, 7})
            QVERIFY(s.insert(n));
        QCOMPARE(s.runCount(), size_t(1));
        for (uint64_t n = 1; n <= 10; ++n)
            QVERIFY(!s.insert(n));
        QVERIFY(!s.contains(11));
        QVERIFY(s.contains(7));
    }

    void numbersKindsAndLocations()
    {
        const struct { const char *text; int64_t value; } numbers[] = {
            {"120", 120}, {"-5", -5}, {"+5", 5}, {"", 0}, {"-", 0}, {"1.5", 0}, {" 5", 0}, {"5 ", 0}, {"12345678901234567890", 0}};
        for (const auto &n : numbers)
            QVERIFY2(toInt64OrZero(n.text) == n.value, n.text);

        const struct { const char *code, *name; bool hasLocation; int attrs; const char *attr; RecordKind kind; } kinds[] = {
            {"990006", "关闭工程", false, 0, "", Lifecycle}, {"990008", "x", false, 0, "", NamedEvent},
            {"210101", "绘制墙", true, 1, "location", Action}, {"210210", "墙1-属性-厚度", false, 1, "厚度", PropertyEdit},
            {"210210", "-Property-", false, 1, "", PropertyEdit}, {"210210", "墙1-属性-厚度", false, 2, "厚度", NamedEvent},
            {"210210", "墙1属性-厚度", false, 1, "厚度", NamedEvent}, {"210210", "墙1-属性-高度", false, 1, "厚度", NamedEvent}};
        for (const auto &k : kinds)
            QVERIFY2(classify(k.code, k.name, k.hasLocation, k.attrs, k.attr) == k.kind, k.name);

        const struct { const char *label; Location location; int language; } labels[] = {
            {"Ribbon quick-access bar", QuickAccess, 1}, {"右键", ContextMenu, 0}, {"", NoLocation, -1}, {"Toolbar", OtherLocation, -1}};
        for (const auto &l : labels) {
            int language = -2;
            QVERIFY2(locationOf(l.label, &language) == l.location && language == l.language, l.label);
        }
    }

    void sqlLiteralsKeepDataAsData()
    {
        const struct { const char *text, *literal; } literals[] = {
            {"plain", "'plain'"}, {"it's", "'it\\'s'"}, {"a\\'b", "'a\\\\\\'b'"}, {"%1 %2 $label", "'%1 %2 $label'"}};
        for (const auto &l : literals)
            QCOMPARE(sqlString(QString::fromUtf8(l.text)), QString::fromUtf8(l.literal));
        // Data that looks like a placeholder stays in its literal, in every query.
        ReportFilter filter;
        filter.byProduct = true;
        filter.product = "$label%1'";
        const ClickHouseQueries q(QStringLiteral("ubc.records"), filter);
        for (const ClickHouseQueries::Query &query : {q.sessions(), q.commands(), q.machines(), q.days(), q.timeline("%1", 10)})
            QVERIFY2(query.sql.contains(QStringLiteral("pcode = '$label%1\\''")), query.name);
    }

    void clickhouseColumnsAreReadByName()
    {
        ClickHouseResult r;
        QString error;
        const QByteArray head = "records\tsessionid\tclosed\nUInt64\tString\tUInt8\n";
        QVERIFY(r.parse(head + "18446744073709551615\ts\\t1\\\\\\n\t1\n7\ts2\t0\n", &error));
        const int id = r.column("sessionid"), records = r.column("records"), closed = r.column("closed");
        QCOMPARE(r.rowCount(), 2);
        QCOMPARE(r.text(0, id) + '|' + r.text(1, id), std::string("s\t1\\\n|s2"));
        QCOMPARE(r.number(1, records), int64_t(7));
        QCOMPARE(r.unsignedNumber(0, records), UINT64_MAX);
        QCOMPARE(r.number(0, closed), int64_t(1));
        QVERIFY(r.missing().isEmpty());
        QCOMPARE(r.column("seq"), -1);
        QCOMPARE(r.missing(), QStringList{QStringLiteral("seq")});
        QVERIFY(!r.parse("Code: 164. DB::Exception: Cannot execute query in readonly mode\n", &error) && !error.isEmpty());
        // An error met after the answer began ends it.
        QVERIFY(!r.parse(head + "7\ts2\t0\nCode: 241. DB::Exception: Memory limit exceeded\n", &error) && !error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestReportData)
#include "tst_reportdata.moc"

#include "CsvReader.h"
#include "DictionaryChecker.h"
#include "DictionaryCsv.h"
#include "DictionaryFile.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QString err;
};

Run ubcDict(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(UBC_DICT_EXE), args);
    Run r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), qint64(data.size()));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Everything stored, with SQL types, so NULL and '' and 1 and '1' differ.
QStringList tableContent(const QString &db)
{
    QStringList rows;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("content"));
        c.setDatabaseName(db);
        c.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (c.open()) {
            QSqlQuery q(c);
            q.exec(QStringLiteral("select fncode, typeof(fnName), fnName, typeof(fnGroup), fnGroup, typeof(fnAttrName),"
                                  " fnAttrName, typeof(fnAddLayer), fnAddLayer, typeof(fnAddRegion), fnAddRegion"
                                  " from FuncDict order by rowid"));
            while (q.next()) {
                QStringList row;
                for (int i = 0; i < q.record().count(); ++i)
                    row << q.value(i).toString();
                rows << row.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("content"));
    return rows;
}

// The library's reading: select *, columns by name, flags through toBool().
QString readLikeLibrary(const QString &db, const QString &code)
{
    QString result = QStringLiteral("missing");
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("library"));
        c.setDatabaseName(db);
        c.open();
        QSqlQuery q(c);
        q.prepare(QStringLiteral("select * from FuncDict where fncode = ?"));
        q.addBindValue(code);
        if (q.exec() && q.next())
            result = QStringList{q.value(QStringLiteral("fnName")).toString(), q.value(QStringLiteral("fnGroup")).toString(),
                                 q.value(QStringLiteral("fnAttrName")).toString(),
                                 q.value(QStringLiteral("fnAddLayer")).toBool() ? QStringLiteral("true") : QStringLiteral("false"),
                                 q.value(QStringLiteral("fnAddRegion")).toBool() ? QStringLiteral("true") : QStringLiteral("false")}
                         .join(QLatin1Char('|'));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("library"));
    return result;
}

const QByteArray Header = "fncode,fnName,fnGroup,fnAttrName,fnAddLayer,fnAddRegion\n";

} // namespace

class TestUbcDict : public QObject
{
    Q_OBJECT

private slots:
    void csvReader_data();
    void csvReader();
    void checker();
    void buildDumpRoundTrip();
    void sampleDictionary();
    void badInputLeavesNothing_data();
    void badInputLeavesNothing();
    void writeFailureKeepsOldFile();
    void checkCommand();
    void showAndUsage();
};

void TestUbcDict::csvReader_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected"); // records as line:fields, or error@line

    QTest::newRow("plain") << QByteArray("a,b\nc,d") << "1:[a][b] 2:[c][d]";
    QTest::newRow("bom, crlf, empty lines") << QByteArray("\xEF\xBB\xBF" "a,b\r\n\r\nc,d\r\n\n") << "1:[a][b] 3:[c][d]";
    QTest::newRow("quoting") << QByteArray("\"x,y\",\"say \"\"hi\"\"\", b \n") << "1:[x,y][say \"hi\"][ b ]";
    QTest::newRow("null versus empty") << QByteArray(",\"\",\n") << "1:<null>[]<null>";
    QTest::newRow("breaks inside quotes") << QByteArray("\"l1\r\nl2\nl3\",b\nc,d") << "1:[l1\r\nl2\nl3][b] 4:[c][d]";
    QTest::newRow("lone cr") << QByteArray("a\rb") << "1:[a] 2:[b]";
    QTest::newRow("chinese") << QByteArray("绘制墙,\"图层,一\"") << "1:[绘制墙][图层,一]";
    QTest::newRow("unterminated quote") << QByteArray("a,b\nc,\"open\nmore\n") << "error@2";
    QTest::newRow("quote in unquoted field") << QByteArray("a\nb,c\"d") << "error@2";
    QTest::newRow("text after closing quote") << QByteArray("a\n\"x\"y") << "error@2";
    QTest::newRow("invalid byte") << QByteArray("a\r\nb\n\xff") << "error@3";
    QTest::newRow("overlong") << QByteArray("\xC0\x80") << "error@1";
    QTest::newRow("truncated") << QByteArray("ok\n\xE4\xB8") << "error@2";
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << "error@1";
}

void TestUbcDict::csvReader()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    CsvReader reader;
    const bool ok = reader.parse(input);
    QString got;
    if (!ok) {
        got = QStringLiteral("error@%1").arg(reader.errorLine());
        QVERIFY(!reader.errorString().isEmpty());
        QVERIFY(reader.records().isEmpty());
    }
    for (const CsvReader::Record &r : reader.records()) {
        got += (got.isEmpty() ? QString() : QStringLiteral(" ")) + QString::number(r.line) + QLatin1Char(':');
        for (const QString &f : r.fields)
            got += f.isNull() ? QStringLiteral("<null>") : QLatin1Char('[') + f + QLatin1Char(']');
    }
    QCOMPARE(got, expected);
}

void TestUbcDict::checker()
{
    const QByteArray csv = Header
        + "1,ok,g,a;b,0,1\n"           // line 2: clean
        + "2,ok,,,1,0\n"                // 3: empty group and attributes are fine
        + "1,again,g,,0,0\n"            // 4: duplicate of line 2
        + " 3,ok,g,,0,0\n"              // 5: blank before the code
        + "4,,g,,0,0\n"                 // 6: empty name
        + "5,ok,g,a;;b,2,\n"            // 7: empty attribute name, bad flags
        + ",ok,g,a;,0,0\n";             // 8: empty code, trailing empty name
    QVector<DictRow> rows;
    DictionaryCsv::Error error;
    QVERIFY2(DictionaryCsv::read(csv, &rows, &error), qPrintable(error.message));
    QStringList got;
    for (const DictionaryChecker::Finding &f : DictionaryChecker::check(rows))
        got << QStringLiteral("%1%2 %3")
                   .arg(f.severity == DictionaryChecker::Finding::Error ? QLatin1Char('E') : QLatin1Char('W'))
                   .arg(rows.at(f.row).line)
                   .arg(f.message.section(QLatin1Char(' '), 0, 1));
    QCOMPARE(got, (QStringList{"E4 duplicate code", "W5 code \"", "W6 fnName is", "E7 fnAddLayer is",
                               "E7 fnAddRegion is", "W7 fnAttrName \"a;;b\"", "E8 fncode is", "W8 fnAttrName \"a;\""}));
    QVERIFY(DictionaryChecker::hasErrors(DictionaryChecker::check(rows)));
    QVERIFY(DictionaryChecker::check(rows.mid(0, 2)).isEmpty());
}

void TestUbcDict::buildDumpRoundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Shuffled header, BOM, CRLF, and fields that need every kind of quoting.
    const QByteArray csv = "\xEF\xBB\xBF" "fnAddRegion,fnName,fncode,fnGroup,fnAttrName,fnAddLayer\r\n"
                           "1,绘制墙,210101,绘图,thickness;height,1\r\n"
                           "0,\"a, b\",210102,\"say \"\"hi\"\"\",\"\",0\r\n"
                           "0,\"two\r\nlines\nhere\",210103,,,1\r\n"
                           "1,关于,219901,\"\",x,0\r\n";
    const QString source = dir.filePath("in.csv"), db1 = dir.filePath("one.db"), db2 = dir.filePath("two.db");
    writeFile(source, csv);
    QCOMPARE(ubcDict({"build", source, db1}).code, 0);
    const Run dump = ubcDict({"dump", db1});
    QCOMPARE(dump.code, 0);

    QVector<DictRow> original, dumped;
    DictionaryCsv::Error error;
    QVERIFY(DictionaryCsv::read(csv, &original, &error));
    QVERIFY(DictionaryCsv::read(dump.out, &dumped, &error));
    QCOMPARE(dumped.size(), original.size());
    for (int i = 0; i < original.size(); ++i) {
        for (int c = 0; c < DictRow::ColumnCount; ++c) {
            QCOMPARE(dumped.at(i).values[c], original.at(i).values[c]);
            QCOMPARE(dumped.at(i).values[c].isNull(), original.at(i).values[c].isNull());
        }
    }

    writeFile(dir.filePath("dump.csv"), dump.out);
    QCOMPARE(ubcDict({"build", dir.filePath("dump.csv"), db2}).code, 0);
    QCOMPARE(tableContent(db2), tableContent(db1));
    QCOMPARE(tableContent(db1).value(1), QStringLiteral("210102|text|a, b|text|say \"hi\"|text||integer|0|integer|0"));
    QCOMPARE(tableContent(db1).value(2).section(QLatin1Char('|'), 3, 6), QStringLiteral("null||null|"));
    // canonical input comes back byte for byte, also through -o
    QCOMPARE(ubcDict({"dump", "-o", dir.filePath("again.csv"), db2}).code, 0);
    QCOMPARE(readFile(dir.filePath("again.csv")), dump.out);

    QCOMPARE(readLikeLibrary(db1, "210101"), QStringLiteral("绘制墙|绘图|thickness;height|true|true"));
    QCOMPARE(readLikeLibrary(db1, "210103"), QStringLiteral("two\r\nlines\nhere|||true|false"));
    QCOMPARE(readLikeLibrary(db1, "219901"), QStringLiteral("关于||x|false|true"));
}

void TestUbcDict::sampleDictionary()
{
    QTemporaryDir dir;
    const QString db = dir.filePath("KelUbc.db");
    const Run check = ubcDict({"check", SAMPLE_CSV});
    QVERIFY2(check.code == 0, check.out.constData());
    QCOMPARE(ubcDict({"build", SAMPLE_CSV, db}).code, 0);
    QCOMPARE(ubcDict({"dump", db}).out, readFile(SAMPLE_CSV));
    QVERIFY(QFileInfo(db).permissions() & QFileDevice::ReadOther); // not the temporary file's 0600
    const QStringList rows = tableContent(db);
    QVERIFY(rows.size() >= 30 && rows.size() <= 45);
    QVERIFY(readLikeLibrary(db, "213036") != QLatin1String("missing"));
    int layers = 0, regions = 0, emptyGroups = 0;
    for (const QString &row : rows) {
        layers += row.section(QLatin1Char('|'), 8, 8) == QLatin1String("1");
        regions += row.section(QLatin1Char('|'), 10, 10) == QLatin1String("1");
        emptyGroups += row.section(QLatin1Char('|'), 4, 4).isEmpty();
    }
    QVERIFY(layers > 0 && regions > 0 && emptyGroups > 0);
}

void TestUbcDict::badInputLeavesNothing_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("unterminated quote") << Header + "1,a,g,,0,0\n2,\"b,g,,0,0\n" << 3 << "unterminated";
    QTest::newRow("unknown header") << QByteArray("fncode,fnname,fnGroup,fnAttrName,fnAddLayer,fnAddRegion\n") << 1 << "fnname";
    QTest::newRow("missing column") << QByteArray("fncode,fnName,fnGroup,fnAttrName,fnAddLayer\n1,a,g,,0\n") << 1 << "fnAddRegion";
    QTest::newRow("empty file") << QByteArray() << 1 << "header";
    QTest::newRow("column count") << Header + "1,a,g,,0,0\n2,b,g,0,0\n" << 3 << "5 fields";
    QTest::newRow("duplicate code") << Header + "1,a,g,,0,0\n\n1,b,g,,0,0\n" << 4 << "line 2";
    QTest::newRow("flag") << Header + "1,a,g,,yes,0\n" << 2 << "fnAddLayer";
    QTest::newRow("invalid utf-8") << Header + "1,\xE7\xBB,g,,0,0\n" << 2 << "UTF-8";
}

void TestUbcDict::badInputLeavesNothing()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, line);
    QFETCH(QString, complaint);
    QTemporaryDir dir;
    const QString source = dir.filePath("bad.csv"), existing = dir.filePath("KelUbc.db");
    writeFile(dir.filePath("good.csv"), Header + "9,good,g,,0,0\n");
    QCOMPARE(ubcDict({"build", dir.filePath("good.csv"), existing}).code, 0);
    const QByteArray good = readFile(existing);
    writeFile(source, csv);
    const QStringList before = entries(dir.path());

    for (const QString &target : {dir.filePath("new.db"), existing}) {
        const Run r = ubcDict({"build", source, target});
        QVERIFY(r.code != 0 && r.code != -1);
        QVERIFY2(r.err.contains(QStringLiteral("bad.csv:%1: error:").arg(line)), qPrintable(r.err));
        QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(readFile(existing), good);
    }
}

void TestUbcDict::writeFailureKeepsOldFile()
{
    QTemporaryDir dir;
    const QString db = dir.filePath("KelUbc.db");
    QVector<DictRow> rows(2);
    rows[0].values = {"1", "a", "g", QString(), "0", "1"};
    rows[1].values = {"2", "b", "g", QString(), "1", "0"};
    QVERIFY(DictionaryFile(db).write(rows));
    const QByteArray good = readFile(db);

    rows[1].values[DictRow::Code] = "1"; // fails half way, on the key
    DictionaryFile again(db);
    QVERIFY(!again.write(rows));
    QVERIFY2(again.errorString().contains("fncode \"1\""), qPrintable(again.errorString()));
    QCOMPARE(readFile(db), good);
    QCOMPARE(entries(dir.path()), QStringList{"KelUbc.db"});
    QCOMPARE(readLikeLibrary(db, "2"), QStringLiteral("b|g||true|false"));

    QVERIFY(!DictionaryFile(dir.filePath("no/such/dir/KelUbc.db")).write(rows.mid(0, 1)));
    QVERIFY(!DictionaryFile(dir.path()).write(rows.mid(0, 1)));
}

void TestUbcDict::checkCommand()
{
    QTemporaryDir dir;
    const QString csv = dir.filePath("f.csv"), db = dir.filePath("f.db");
    writeFile(csv, Header + "1,a,g,,0,0\n2,,g,x;,0,0\n1,c,g,,0,0\n");
    Run r = ubcDict({"check", csv});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.out.contains("f.csv:4: error: duplicate code \"1\", first at line 2"), r.out.constData());
    QVERIFY(r.out.contains("f.csv:3: warning: fnName is empty"));
    QVERIFY(r.out.contains("f.csv:3: warning: fnAttrName"));

    { // a database made by hand, without the key, as a product team might
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        c.setDatabaseName(db);
        QVERIFY(c.open());
        QSqlQuery q(c);
        QVERIFY(q.exec("create table FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion)"));
        QVERIFY(q.exec("insert into FuncDict values ('7', 'a', 'g', null, 1, null), ('8', 'b', 'g', '', 0, 0)"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    r = ubcDict({"check", db});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.out.contains("f.db: row 1 (fncode \"7\"): error: fnAddRegion is empty"), r.out.constData());
    QVERIFY(!r.out.contains("row 2"));

    writeFile(csv, Header + "1,a,g,,0,0\n");
    QCOMPARE(ubcDict({"check", csv}).code, 0);
    QCOMPARE(ubcDict({"check", dir.filePath("absent.db")}).code, 2);
    writeFile(dir.filePath("junk.db"), "not a database");
    QCOMPARE(ubcDict({"check", dir.filePath("junk.db")}).code, 2);
    writeFile(csv, Header + "\"1,a,g,,0,0\n");
    QCOMPARE(ubcDict({"check", csv}).code, 2);
    QCOMPARE(entries(dir.path()), (QStringList{"f.csv", "f.db", "junk.db"}));
}

void TestUbcDict::showAndUsage()
{
    QTemporaryDir dir;
    const QString csv = dir.filePath("d.csv"), db = dir.filePath("KelUbc.db");
    writeFile(csv, Header + "210101,绘制墙,绘图,thickness;height,1,0\n990001,,,,0,1\n5,x,g,a;;b,0,0\n");
    QCOMPARE(ubcDict({"build", csv, db}).code, 0);

    Run r = ubcDict({"show", db, "210101"});
    QCOMPARE(r.code, 0);
    QCOMPARE(QString::fromUtf8(r.out).split(QLatin1Char('\n')).mid(1, 5),
             (QStringList{"fnName       绘制墙", "fnGroup      绘图", "fnAttrName   \"thickness\", \"height\"",
                          "fnAddLayer   yes", "fnAddRegion  no"}));
    r = ubcDict({"show", db, "990001"});
    QVERIFY2(r.out.contains("fnAttrName   \"\"\n") && r.out.contains("\"null\"") && r.out.contains("fnAddRegion  yes"),
             r.out.constData());
    QVERIFY(ubcDict({"show", db, "5"}).out.contains("\"a\", \"\", \"b\""));
    r = ubcDict({"show", db, "210101 "}); // the library does not trim codes
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("no entry for code \"210101 \""));

    const QString absent = dir.filePath("absent.db");
    QCOMPARE(ubcDict({"show", absent, "1"}).code, 2);
    QCOMPARE(ubcDict({"dump", absent}).code, 2);
    QVERIFY(!QFile::exists(absent));

    QCOMPARE(ubcDict({}).code, 2);
    QCOMPARE(ubcDict({"frobnicate"}).code, 2);
    QCOMPARE(ubcDict({"show", db}).code, 2);
    QCOMPARE(ubcDict({"dump", db, "--bogus"}).code, 2);
    r = ubcDict({"--help"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains("build DICT.csv KelUbc.db"));
}

QTEST_GUILESS_MAIN(TestUbcDict)
#include "tst_ubcdict.moc"

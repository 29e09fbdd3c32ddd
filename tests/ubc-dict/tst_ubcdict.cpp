#include "DictionaryFile.h"
#include "TestLogs.h"

#include <QtSql>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using TestLogs::readFile;
using TestLogs::writeFile;

namespace {

struct Run { int code; QByteArray out; QString err; };

Run ubcDict(const QStringList &args)
{
    qputenv("LC_ALL", "C.UTF-8"); // for the tool's output, whatever the caller's locale
    QProcess p;
    p.start(QStringLiteral(UBC_DICT_EXE), args);
    const bool exited = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    return {exited ? p.exitCode() : -1, p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The rows a statement returns, one text each. By default everything stored,
// SQL-quoted, so NULL and '' and 1 and '1' differ.
QStringList sql(const QString &db, const QString &statement = QStringLiteral(
                    "select quote(fncode)||'|'||quote(fnName)||'|'||quote(fnGroup)||'|'||quote(fnAttrName)||'|'"
                    "||quote(fnAddLayer)||'|'||quote(fnAddRegion) from FuncDict order by rowid"))
{
    QStringList rows;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
        c.setDatabaseName(db);
        c.open();
        QSqlQuery q(statement, c);
        while (q.next())
            rows << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test"));
    return rows;
}

const QByteArray Header = "fncode,fnName,fnGroup,fnAttrName,fnAddLayer,fnAddRegion\n";

} // namespace

class TestUbcDict : public QObject
{
    Q_OBJECT

private slots:
    void buildDumpShow()
    {
        QTemporaryDir dir;
        // Shuffled header, BOM, CRLF, and fields that need every kind of quoting.
        const QByteArray csv = "\xEF\xBB\xBF" "fnAddRegion,fnName,fncode,fnGroup,fnAttrName,fnAddLayer\r\n"
                               "0,绘制墙,210101,绘图,thickness;;height,1\r\n"
                               "1,\"a, b\",210102,\"say \"\"hi\"\"\",\"\",0\r\n"
                               "0,\"two\r\nlines\nhere\",210103,,,1\r\n\r\n";
        const QString db1 = dir.filePath("one.db"), db2 = dir.filePath("two.db"), dump = dir.filePath("dump.csv");
        QVERIFY(writeFile(dir.filePath("in.csv"), csv));
        QCOMPARE(ubcDict({"build", dir.filePath("in.csv"), db1}).code, 0);
        QCOMPARE(sql(db1), (QStringList{"'210101'|'绘制墙'|'绘图'|'thickness;;height'|1|0",
                                        "'210102'|'a, b'|'say \"hi\"'|''|0|1",
                                        "'210103'|'two\r\nlines\nhere'|NULL|NULL|1|0"}));
        // Canonical input comes back byte for byte.
        QCOMPARE(ubcDict({"dump", "-o", dump, db1}).code, 0);
        QCOMPARE(ubcDict({"build", dump, db2}).code, 0);
        QVERIFY(sql(db2) == sql(db1) && ubcDict({"dump", db2}).out == readFile(dump));

        // show: as the library reads it, attribute names split and quoted; codes are not trimmed.
        const QStringList shown{"fnName       绘制墙\nfnGroup      绘图\nfnAttrName   \"thickness\", \"\", \"height\"\n"
                                "fnAddLayer   yes\nfnAddRegion  no\n", "fnAttrName   \"\"\nfnAddLayer   no\nfnAddRegion  yes",
                                "fnGroup      (empty: logged as \"null\")"};
        for (int i = 0; i < shown.size(); ++i) {
            const Run r = ubcDict({"show", db1, QStringLiteral("21010%1").arg(i + 1)});
            QVERIFY2(r.code == 0 && QString::fromUtf8(r.out).contains(shown[i]), r.out.constData());
        }
        const Run r = ubcDict({"show", db1, "210101 "});
        QVERIFY(r.code == 1 && r.err.contains("no entry for code \"210101 \""));

        const QString sample = dir.filePath("KelUbc.db");
        QCOMPARE(ubcDict({"build", SAMPLE_CSV, sample}).code, 0);
        QCOMPARE(ubcDict({"dump", sample}).out, readFile(SAMPLE_CSV));
        QVERIFY(QFileInfo(sample).permissions() & QFileDevice::ReadOther); // not the temporary file's 0600
    }

    // A file that cannot be read fails at run time (1); bad arguments are a
    // usage error (2), the usage on stderr.
    void exitCodes()
    {
        QTemporaryDir dir;
        const QString db1 = dir.filePath("one.db"), db2 = dir.filePath("two.db"), dump = dir.filePath("dump.csv");
        QVERIFY(ubcDict({"build", SAMPLE_CSV, db1}).code == 0 && QFile::copy(db1, db2)
                && QFile::copy(SAMPLE_CSV, dir.filePath("in.csv")));
        const QString absent = dir.filePath("absent.db");
        for (const QStringList &args : QList<QStringList>{{"show", absent, "1"}, {"dump", absent}})
            QVERIFY2(ubcDict(args).code == 1, qPrintable(args.join(QLatin1Char(' '))));
        QVERIFY(!QFile::exists(absent));
        const QList<QStringList> usage{{}, {"frobnicate"}, {"show", db1}, {"dump", db1, "--bogus"},
                                       {"show", db1, "1", "-o", dump}, {"dump", db1, "-o"},
                                       {"build", dir.filePath("in.csv"), dir.filePath("in.csv")}};
        for (const QStringList &args : usage) {
            const Run u = ubcDict(args);
            QVERIFY2(u.code == 2 && u.out.isEmpty() && u.err.contains("usage: ubc-dict build"),
                     qPrintable(args.join(QLatin1Char(' ')) + u.err));
        }
        // Options anywhere, in either spelling; help wins.
        QCOMPARE(ubcDict({"dump", "--output=" + dump, db2}).code, 0);
        QCOMPARE(readFile(dump), ubcDict({"dump", db1}).out);
        const Run help = ubcDict({"dump", "--bogus", "-h"});
        QVERIFY(help.code == 0 && help.out.contains("Exit codes:"));
    }

    void badInputLeavesNothing_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("complaint");

        QTest::newRow("unterminated quote") << Header + "1,a,g,,0,0\n2,\"b,g,,0,0\n" << 3 << "unterminated";
        QTest::newRow("quote in unquoted field") << Header + "1,a\"b,g,,0,0\n" << 2 << "quote inside";
        QTest::newRow("text after closing quote") << Header + "1,\"a\"b,g,,0,0\n" << 2 << "after a closing quote";
        QTest::newRow("unknown header") << QByteArray("fncode,fnname,fnGroup,fnAttrName,fnAddLayer,fnAddRegion\n") << 1 << "fnname";
        QTest::newRow("missing column") << QByteArray("fncode,fnName,fnGroup,fnAttrName,fnAddLayer\n1,a,g,,0\n") << 1 << "fnAddRegion";
        QTest::newRow("empty file") << QByteArray() << 1 << "header";
        // Line breaks in quotes count, CRLF once; a lone CR ends a line too.
        QTest::newRow("column count") << Header + "1,\"a\r\nb\nc\",g,,0,0\r2,b,g,0,0\n" << 5 << "5 fields";
        QTest::newRow("duplicate code") << Header + "1,a,g,,0,0\n\n1,b,g,,0,0\n" << 4 << "line 2";
        QTest::newRow("CRLF lines") << QByteArray(Header).replace("\n", "\r\n") + "1,a,g,,0,0\r\n1,b,g,,0,0\r\n" << 3 << "line 2";
        QTest::newRow("flag") << Header + "1,a,g,,yes,0\n" << 2 << "fnAddLayer";
        QTest::newRow("cut sequence") << Header + "1,\xE7\xBB,g,,0,0\n" << 2 << "byte 0xe7";
        QTest::newRow("invalid byte") << Header + "1,a,g,,0,0\r\n\xff" << 3 << "byte 0xff";
        QTest::newRow("truncated at end") << Header + "\n\xE4\xB8" << 3 << "byte 0xe4";
        QTest::newRow("overlong") << Header + "1,\xC0\x80,g,,0,0\n" << 2 << "byte 0xc0";
        QTest::newRow("surrogate") << Header + "1,\xED\xA0\x80,g,,0,0\n" << 2 << "byte 0xed";
        // Qt's UTF-8 conversion of a QByteArray would end the file at the NUL.
        QTest::newRow("NUL byte") << Header + "1,a,g,,0,0\n" + QByteArray(1, '\0') + "2,b,g,,0,0\n" << 3 << "NUL byte";
    }

    void badInputLeavesNothing()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, line);
        QFETCH(QString, complaint);
        QTemporaryDir dir;
        const QString existing = dir.filePath("KelUbc.db");
        QVERIFY(writeFile(existing, "the old dictionary"));
        QVERIFY(writeFile(dir.filePath("bad.csv"), csv));
        const QStringList before = entries(dir.path());

        for (const QString &target : {dir.filePath("new.db"), existing}) {
            const Run r = ubcDict({"build", dir.filePath("bad.csv"), target});
            QVERIFY2(r.code == 1 && r.err.contains(QStringLiteral("bad.csv:%1: error:").arg(line)) && r.err.contains(complaint),
                     qPrintable(r.err));
            QVERIFY(entries(dir.path()) == before && readFile(existing) == "the old dictionary");
        }
    }

    void replacingTheTarget()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("KelUbc.db");
        QVERIFY(writeFile(db, "the old dictionary"));
        QVector<DictRow> rows(2);
        rows[0].values = {"1", "a", "g", QString(), "0", "1"};
        rows[1].values = {"1", "b", "g", QString(), "1", "0"}; // fails half way, on the key
        DictionaryFile file(db);
        QVERIFY2(!file.write(rows) && file.errorString().contains("fncode \"1\""), qPrintable(file.errorString()));
        QVERIFY(readFile(db) == "the old dictionary" && entries(dir.path()) == QStringList{"KelUbc.db"});

        // A read-only target is replaced and keeps its mode.
        const QString csv = dir.filePath("f.csv");
        QVERIFY(writeFile(csv, Header + "5,e,g,,0,0\n"));
        QVERIFY(QFile::remove(db) && ubcDict({"build", SAMPLE_CSV, db}).code == 0 && ::chmod(qPrintable(db), 0444) == 0);
        const Run r = ubcDict({"build", csv, db});
        struct stat st;
        QVERIFY2(r.code == 0 && ::stat(qPrintable(db), &st) == 0, qPrintable(r.err));
        QCOMPARE(st.st_mode & 07777, mode_t(0444));
        QCOMPARE(sql(db), QStringList{"'5'|'e'|'g'|NULL|0|0"});

#ifdef Q_OS_WIN
        QSKIP("no signals on Windows; Ctrl+C reaches only a process sharing the console");
#else
        // SIGINT or SIGTERM while the rows go in: no temporary file, no journal, old file intact.
        std::signal(SIGINT, SIG_DFL); // a shell may have started us ignoring it, and the tool would inherit that
        QByteArray big = Header;
        for (int i = 0; i < 50000; ++i)
            big += QByteArray::number(i) + ",name " + QByteArray::number(i) + ",group,a;b,0,1\n";
        QVERIFY(writeFile(csv, big));
        const QStringList before = entries(dir.path());
        for (int sig : {SIGINT, SIGTERM}) {
            QProcess p;
            p.start(QStringLiteral(UBC_DICT_EXE), {"build", csv, db});
            QVERIFY(p.waitForStarted());
            QDeadlineTimer deadline(30000);
            while (!entries(dir.path()).filter(QStringLiteral("-journal")).size() && !deadline.hasExpired()
                   && p.state() == QProcess::Running)
                QThread::msleep(1);
            QVERIFY2(p.state() == QProcess::Running, "the build ended before it could be interrupted");
            QVERIFY(::kill(pid_t(p.processId()), sig) == 0 && p.waitForFinished(30000));
            QVERIFY2(p.exitStatus() == QProcess::CrashExit && p.exitCode() == sig, p.readAllStandardError().constData());
            QCOMPARE(entries(dir.path()), before);
            QCOMPARE(sql(db), QStringList{"'5'|'e'|'g'|NULL|0|0"});
        }
#endif
    }

    void checkCommand()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath("f.csv"), db = dir.filePath("f.db");
        // Lines 2 and 3 are clean (empty group and attributes are fine), 4 repeats
        // 2's code, 5 has a blank before the code, 6 an empty name, 7 an empty
        // attribute name and bad flags, 8 an empty code and attribute name.
        QVERIFY(writeFile(csv, Header + "1,ok,g,a;b,0,1\n2,ok,,,1,0\n1,again,g,,0,0\n 3,ok,g,,0,0\n"
                                        "4,,g,,0,0\n5,ok,g,a;;b,2,\n,ok,g,a;,0,0\n"));
        Run r = ubcDict({"check", csv});
        QStringList got;
        for (const QByteArray &line : r.out.trimmed().split('\n'))
            got << QString::fromUtf8(line).remove(dir.path() + QLatin1Char('/')).remove(QDir::toNativeSeparators(dir.path() + QLatin1Char('/'))).section(QLatin1Char(' '), 0, 3);
        QCOMPARE(got, (QStringList{"f.csv:4: error: duplicate code", "f.csv:7: error: fnAddLayer is",
                                   "f.csv:7: error: fnAddRegion is", "f.csv:8: error: fncode is", "f.csv:5: warning: code \"",
                                   "f.csv:6: warning: fnName is", "f.csv:7: warning: fnAttrName \"a;;b\"",
                                   "f.csv:8: warning: fnAttrName \"a;\"", "f.csv: 7 entries, 8"}));
        QVERIFY(r.code == 1 && r.out.contains("first at line 2"));

        // A database made by hand, without the key, as a product team might.
        sql(db, "create table FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion)");
        sql(db, "insert into FuncDict values ('7', 'a', 'g', null, 1, null), ('8', 'b', 'g', '', 0, 0)");
        r = ubcDict({"check", db});
        QVERIFY2(r.code == 1 && r.out.contains("f.db: row 1 (fncode \"7\"): error: fnAddRegion is empty")
                     && !r.out.contains("row 2"), r.out.constData());

        // A NUL in a value would make dump write a CSV file that build refuses.
        // (Not "nul.db": Windows takes NUL with any extension for its null device.)
        const QString nul = dir.filePath("withnul.db");
        sql(nul, "create table FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion)");
        sql(nul, "insert into FuncDict values ('1', 'a' || char(0) || 'b', 'g', '', 0, 0), ('2' || char(0), 'b', 'g', '', 0, 0)");
        r = ubcDict({"check", nul});
        QVERIFY2(r.code == 1 && r.out.contains("withnul.db: row 1 (fncode \"1\"): error: fnName holds a NUL")
                     && r.out.contains("withnul.db: row 2 (fncode \"2\\0\"): error: fncode holds a NUL")
                     && !r.out.contains('\0'), r.out.constData());

        QCOMPARE(ubcDict({"check", SAMPLE_CSV}).code, 0); // clean
        QVERIFY(writeFile(dir.filePath("junk.db"), "not a database"));
        QVERIFY(writeFile(dir.filePath("bad.csv"), Header + "\"1,a,g,,0,0\n"));
        for (const char *name : {"absent.db", "junk.db", "bad.csv"})
            QCOMPARE(ubcDict({"check", dir.filePath(name)}).code, 1);
        QCOMPARE(entries(dir.path()), (QStringList{"bad.csv", "f.csv", "f.db", "junk.db", "withnul.db"}));
    }
};

QTEST_GUILESS_MAIN(TestUbcDict)
#include "tst_ubcdict.moc"

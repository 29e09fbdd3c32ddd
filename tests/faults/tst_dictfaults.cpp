// A function dictionary that is missing, empty, corrupt, of the wrong shape or
// locked by another process: the host keeps running, its calls return at
// once, actions are still logged, and named events are served or dropped.

#include "TestLogs.h"

#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

namespace {

// A call that waits for a lock longer than this hangs the host's GUI thread.
constexpr qint64 kMaxCallMs = 1000;

const QString kConnection = QStringLiteral("writer");

} // namespace

class TestDictFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The host reads KelUbc.db beside its executable: each case gets a copy.
        QVERIFY(QFile::copy(QStringLiteral(FAULTHOST), m_dir->filePath(QStringLiteral("faulthost"))));
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection)
            .setDatabaseName(m_dir->filePath(QStringLiteral("KelUbc.db")));
    }

    void cleanup() { QSqlDatabase::removeDatabase(kConnection); }

    void brokenDictionaries_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // the whole file, unless null
        QTest::addColumn<QStringList>("sql");  // or statements run on it; a transaction they begin stays open
        QTest::addColumn<bool>("served");      // while the statements' transaction is open
        QTest::addColumn<bool>("servedLater"); // once it is rolled back
        QTest::addColumn<QString>("warning");  // the one warning, naming the file
        const QStringList dict{
            QStringLiteral("create table FuncDict (fncode text primary key, fnName text, fnGroup text,"
                           " fnAttrName text, fnAddLayer integer, fnAddRegion integer)"),
            QStringLiteral("insert into FuncDict values ('K1', 'Named', 'G', 'a;b', 0, 0)")};
        QByteArray junk(8192, '\0');
        QRandomGenerator random(7);
        for (char &c : junk)
            c = char(random.bounded(256));
        const QByteArray none;
        const QString noFile = QStringLiteral("KelUbc: no function dictionary at %1;"),
                      unreadable = QStringLiteral("KelUbc: cannot read the function dictionary %1 (");
        QTest::newRow("valid") << none << dict << true << true << QString();
        QTest::newRow("missing") << none << QStringList() << false << false << noFile;
        QTest::newRow("empty file") << QByteArray("") << QStringList() << false << false << unreadable;
        QTest::newRow("random bytes") << junk << QStringList() << false << false << unreadable;
        QTest::newRow("wrong table")
            << none << QStringList(dict).replaceInStrings(QStringLiteral("FuncDict"), QStringLiteral("Functions"))
            << false << false << unreadable;
        // Columns are read by name: missing ones read as empty; without a name
        // a row makes no record.
        QTest::newRow("only code and name")
            << none << QStringList{QStringLiteral("create table FuncDict (fncode text, fnName text)"),
                                   QStringLiteral("insert into FuncDict values ('K1', 'Named')")} << true << true
            << QString();
        QTest::newRow("no name column")
            << none << QStringList{QStringLiteral("create table FuncDict (fncode text, fnGroup text)"),
                                   QStringLiteral("insert into FuncDict values ('K1', 'G')")} << false << false
            << QString();
        // A writer's RESERVED lock leaves readers alone. An EXCLUSIVE one keeps
        // them out: the look-up gives up quickly, and the code is not taken
        // for one without a row.
        const QString update = QStringLiteral("update FuncDict set fnGroup = 'H'");
        QTest::newRow("writer in a transaction")
            << none << dict + QStringList{QStringLiteral("begin immediate"), update} << true << true << QString();
        QTest::newRow("exclusive lock")
            << none << dict + QStringList{QStringLiteral("begin exclusive"), update} << false << true << QString();
    }

    void brokenDictionaries()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, sql);
        QFETCH(bool, served);
        QFETCH(bool, servedLater);
        QFETCH(QString, warning);
        QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        QFile file(db.databaseName());
        if (!bytes.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QVERIFY(sql.isEmpty() || db.open());
        QSqlQuery query(db);
        for (const QString &statement : sql)
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));

        QProcess host;
        host.start(m_dir->filePath(QStringLiteral("faulthost")),
                   {QStringLiteral("dict"), m_dir->filePath(QStringLiteral("records.jsonl"))});
        QVERIFY(host.waitForStarted());
        // Sends K1 through the host; the slowest of its calls in ms, or -1.
        const auto send = [&host] {
            host.write("K1\n");
            while (!host.canReadLine() && host.waitForReadyRead(30000)) {
            }
            return host.canReadLine() ? host.readLine().trimmed().toLongLong() : qint64(-1);
        };
        const qint64 ms = send();
        QVERIFY2(ms >= 0 && ms < kMaxCallMs, qPrintable(QString::number(ms)));
        if (db.isOpen())
            db.rollback();
        QVERIFY(send() >= 0);
        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(30000) && host.exitCode() == 0);

        // Each send logs a named and a list event when served, then the action.
        const QStringList named{QStringLiteral("Named"), QStringLiteral("Named")};
        const QStringList action{QStringLiteral("action")};
        QCOMPARE(TestLogs::column(TestLogs::objects(m_dir->filePath(QStringLiteral("records.jsonl"))),
                                  QStringLiteral("fnname")),
                 (served ? named : QStringList()) + action + (servedLater ? named : QStringList()) + action);
        // A broken file, not a lock, is worth one warning for the whole run.
        const QStringList warnings = QString::fromUtf8(host.readAllStandardError()).split(QLatin1Char('\n'),
                                                                                           Qt::SkipEmptyParts);
        QVERIFY2(warnings.size() == (warning.isEmpty() ? 0 : 1)
                     && (warnings.isEmpty() || warnings[0].startsWith(warning.arg(QDir::toNativeSeparators(db.databaseName())))),
                 qPrintable(warnings.join(QLatin1Char('\n'))));
        // Read-only: a missing dictionary is not created.
        QCOMPARE(file.exists(), !bytes.isNull() || !sql.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDictFaults)
#include "tst_dictfaults.moc"

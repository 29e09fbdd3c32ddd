// A function dictionary that is missing, empty, corrupt, of the wrong shape or
// locked by another process: the host keeps running, its calls return at
// once, actions are still logged, and named events are served or dropped.

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

namespace {

// A call that waits for a lock longer than this hangs the host's GUI thread.
constexpr qint64 kMaxCallMs = 1000;

const QString kConnection = QStringLiteral("writer");

// Runs statements on the dictionary file, from this process: a different
// process from the host's, so SQLite's file locks apply between them.
bool exec(const QStringList &statements)
{
    QSqlQuery query(QSqlDatabase::database(kConnection));
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            qWarning() << statement << query.lastError();
            return false;
        }
    }
    return true;
}

const QString kTable = QStringLiteral(
    "create table FuncDict (fncode text primary key, fnName text, fnGroup text,"
    " fnAttrName text, fnAddLayer integer, fnAddRegion integer)");
const QString kRow = QStringLiteral("insert into FuncDict values ('K1', 'Named', 'G', 'a;b', 0, 0)");

// Codes each record of the host's log carries under "fncode" or "fnname".
QStringList loggedNames(const QString &path)
{
    QFile file(path);
    QStringList names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        names << (o.isEmpty() ? QStringLiteral("<bad line>") : o.value(QStringLiteral("fnname")).toString());
    }
    return names;
}

} // namespace

class TestDictFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_host;

    QString dbPath() const { return m_dir->filePath(QStringLiteral("KelUbc.db")); }
    QString logPath() const { return m_dir->filePath(QStringLiteral("records.jsonl")); }

    // Sends one code through the host; the slowest of its calls in ms, or -1.
    qint64 sendThroughHost(const QString &code)
    {
        m_host.write(QStringLiteral("send %1\n").arg(code).toUtf8());
        while (!m_host.canReadLine()) {
            if (!m_host.waitForReadyRead(30000))
                return -1;
        }
        return m_host.readLine().trimmed().toLongLong();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The host reads KelUbc.db beside its executable: each case gets a copy.
        QVERIFY(QFile::copy(QStringLiteral(FAULTHOST), m_dir->filePath(QStringLiteral("faulthost"))));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(dbPath());
    }

    void cleanup()
    {
        if (m_host.state() != QProcess::NotRunning) {
            m_host.kill();
            m_host.waitForFinished();
        }
        QSqlDatabase::removeDatabase(kConnection);
    }

    void brokenDictionaries_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("served");
        QTest::newRow("valid") << "valid" << true;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("empty file") << "empty" << false;
        QTest::newRow("random bytes") << "corrupt" << false;
        QTest::newRow("wrong table") << "wrong table" << false;
        // Columns are read by name: missing ones read as empty; without a name
        // a row makes no record.
        QTest::newRow("only code and name") << "code and name" << true;
        QTest::newRow("no name column") << "no name" << false;
        // A writer's RESERVED lock leaves readers alone.
        QTest::newRow("writer in a transaction") << "reserved" << true;
    }

    void brokenDictionaries()
    {
        QFETCH(QString, kind);
        QFETCH(bool, served);
        QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        if (kind == QLatin1String("empty")) {
            QFile file(dbPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("corrupt")) {
            QByteArray junk(8192, '\0');
            QRandomGenerator random(7);
            for (char &c : junk)
                c = char(random.bounded(256));
            QFile file(dbPath());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(junk) == junk.size());
        } else if (kind != QLatin1String("missing")) {
            QVERIFY(db.open());
            QString table = kTable;
            QString row = kRow;
            if (kind == QLatin1String("wrong table")) {
                table.replace(QLatin1String("FuncDict"), QLatin1String("Functions"));
                row.replace(QLatin1String("FuncDict"), QLatin1String("Functions"));
            } else if (kind == QLatin1String("code and name")) {
                table = QStringLiteral("create table FuncDict (fncode text, fnName text)");
                row = QStringLiteral("insert into FuncDict values ('K1', 'Named')");
            } else if (kind == QLatin1String("no name")) {
                table = QStringLiteral("create table FuncDict (fncode text, fnGroup text)");
                row = QStringLiteral("insert into FuncDict values ('K1', 'G')");
            }
            QVERIFY(exec({table, row}));
            if (kind == QLatin1String("reserved"))
                QVERIFY(exec({QStringLiteral("begin immediate"),
                              QStringLiteral("insert into FuncDict values ('K2', 'Pending', 'G', '', 0, 0)")}));
        }

        m_host.start(m_dir->filePath(QStringLiteral("faulthost")), {QStringLiteral("dict"), logPath()});
        QVERIFY(m_host.waitForStarted());
        const qint64 ms = sendThroughHost(QStringLiteral("K1"));
        QVERIFY2(ms >= 0 && ms < kMaxCallMs, qPrintable(QString::number(ms)));
        QCOMPARE(sendThroughHost(QStringLiteral("K2")) >= 0, true); // a code without a row
        m_host.write("quit\n");
        QVERIFY(m_host.waitForFinished(30000));
        QCOMPARE(m_host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_host.exitCode(), 0);
        if (db.isOpen())
            db.rollback();

        // Named and list events of K1, then the action; K2 only as an action.
        const QStringList named{QStringLiteral("Named"), QStringLiteral("Named")};
        const QStringList actions{QStringLiteral("action")};
        QCOMPARE(loggedNames(logPath()), (served ? named : QStringList()) + actions + actions);
        // Read-only: a missing dictionary is not created.
        QCOMPARE(QFile::exists(dbPath()), kind != QLatin1String("missing"));
    }

    // An EXCLUSIVE lock keeps readers out too: the look-up gives up quickly
    // and the event is dropped; once the lock is gone the code is served.
    void exclusiveLockDropsWithoutWaiting()
    {
        QSqlDatabase db = QSqlDatabase::database(kConnection);
        QVERIFY(db.isOpen());
        QVERIFY(exec({kTable, kRow, QStringLiteral("begin exclusive"),
                      QStringLiteral("update FuncDict set fnGroup = 'H'")}));
        m_host.start(m_dir->filePath(QStringLiteral("faulthost")), {QStringLiteral("dict"), logPath()});
        QVERIFY(m_host.waitForStarted());
        const qint64 locked = sendThroughHost(QStringLiteral("K1"));
        QVERIFY2(locked >= 0 && locked < kMaxCallMs, qPrintable(QString::number(locked)));
        QVERIFY(db.rollback());
        QVERIFY(sendThroughHost(QStringLiteral("K1")) >= 0);
        m_host.write("quit\n");
        QVERIFY(m_host.waitForFinished(30000));
        QCOMPARE(m_host.exitCode(), 0);
        QCOMPARE(loggedNames(logPath()), QStringList({"action", "Named", "Named", "action"}));
    }
};

QTEST_GUILESS_MAIN(TestDictFaults)
#include "tst_dictfaults.moc"

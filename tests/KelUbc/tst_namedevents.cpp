// The function dictionary and the events named by text codes, against a real
// SQLite dictionary beside the executable and the recording behaviour log.

#include "KelUbcPrivate.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

using Attrs = QMap<QString, QString>;

namespace {
// Debug lines are kept; info lines also join the behaviour log's call list,
// so their place among the calls into it shows.
QStringList g_debugLines;
QStringList g_infoLines;
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg)
        g_debugLines << text;
    if (type == QtInfoMsg) {
        g_infoLines << text;
        RecordingLog::calls() << QStringLiteral("info:%1:%2:%3").arg(
            QString::fromUtf8(context.file)).arg(context.line).arg(QString::fromUtf8(context.function));
    }
}

QString debugText(const QSqlError &error)
{
    QString text;
    QDebug(&text) << error;
    return text.trimmed();
}
} // namespace

class tst_NamedEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dictionaryCache();
    void dictionaryColumns();
    void attributePairing();
    void layerAndRegion();
    void locationAndCallOrder();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    void exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("writer")));
        QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }
    UbcDataProtocol lastRecord() { return RecordingLog::records().constLast(); }

    RecordingTranslator translator;
};

void tst_NamedEvents::initTestCase()
{
    qInstallMessageHandler(recordMessage);
    QCoreApplication::installTranslator(&translator);

    // Columns out of the usual order, an extra one the library must ignore.
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
    QFile::remove(path);
    QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
    writer.setDatabaseName(path);
    QVERIFY(writer.open());
    exec(QStringLiteral("create table FuncDict (fnAddRegion integer, note text, fnAttrName text,"
                        " fnGroup text, fncode text, fnAddLayer integer, fnName text)"));
    exec(QStringLiteral(
        "insert into FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion, note) values"
        " ('K1', 'Known', 'Edit', 'x', 1, 0, 'n'),"
        " ('NUL', 'Nulls', NULL, NULL, NULL, NULL, NULL),"
        " ('', 'EmptyCode', 'G', '', 0, 0, ''),"
        " ('XYZ', 'Pairs', 'G', 'x;y;z', 0, 0, ''),"
        " ('DUP', 'Dups', 'G', 'x;;x', 0, 0, ''),"
        " ('LR', 'LayerRegion', 'G', 'layer;region', 1, 1, ''),"
        " ('NONAME', '', 'G', '', 1, 1, '')"));

    QVERIFY(KelUbc::instance());
    QVERIFY(d()->m_db.isOpen());
    QVERIFY(g_debugLines.isEmpty());
}

void tst_NamedEvents::init()
{
    RecordingLog::reset();
    g_debugLines.clear();
    g_infoLines.clear();
    d()->m_layer = QStringLiteral("L1");
    d()->m_region = QLatin1String("");
}

void tst_NamedEvents::dictionaryCache()
{
    KelUbc *ubc = KelUbc::instance();
    ubc->send(QStringLiteral("K1"));
    QCOMPARE(d()->m_funcDict.keys(), QStringList{QStringLiteral("K1")});

    // A changed or removed row is not seen again: the first answer stays.
    exec(QStringLiteral("update FuncDict set fnName = 'Renamed', fnGroup = 'Other' where fncode = 'K1'"));
    ubc->send(QStringLiteral("K1"));
    exec(QStringLiteral("delete from FuncDict where fncode = 'K1'"));
    ubc->send(QStringLiteral("K1"), QStringLiteral("v"));
    QCOMPARE(RecordingLog::records().size(), 3);
    for (const UbcDataProtocol &r : RecordingLog::records()) {
        QCOMPARE(r.fnname, QStringLiteral("Known"));
        QCOMPARE(r.fngroup, QStringLiteral("Edit"));
    }
    QVERIFY(g_debugLines.isEmpty());

    // A missing code is asked for on every use, one debug line each, and
    // found once its row exists. Case and blanks make other codes.
    const QStringList missing{QStringLiteral("NEW"), QStringLiteral("NEW"), QStringLiteral("k1"),
                              QStringLiteral(" K1"), QStringLiteral("K1 ")};
    for (const QString &code : missing)
        ubc->send(code);
    QCOMPARE(g_debugLines.size(), missing.size());
    QCOMPARE(QSet<QString>(g_debugLines.begin(), g_debugLines.end()), QSet<QString>{debugText(QSqlError())});
    QCOMPARE(RecordingLog::records().size(), 3);
    QCOMPARE(d()->m_funcDict.keys(), QStringList{QStringLiteral("K1")});

    exec(QStringLiteral("insert into FuncDict (fncode, fnName, fnGroup) values ('NEW', 'Added', 'G')"));
    ubc->send(QStringLiteral("NEW"));
    QCOMPARE(lastRecord().fnname, QStringLiteral("Added"));
    QVERIFY(d()->m_funcDict.contains(QStringLiteral("NEW")));

    // A null code is asked for as the empty text: its row is found (and
    // the label consumed), though a record without a code is never logged.
    g_debugLines.clear();
    RecordingLog::reset();
    d()->m_location = QStringLiteral("Ribbon");
    ubc->send(QString());
    QVERIFY(g_debugLines.isEmpty());
    QCOMPARE(d()->m_funcDict.value(QLatin1String("")).fnName, QStringLiteral("EmptyCode"));
    QVERIFY(d()->m_location.isEmpty());
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
}

void tst_NamedEvents::dictionaryColumns()
{
    KelUbc::instance()->send(QStringLiteral("LR"));
    KelUbc::instance()->send(QStringLiteral("NUL"));
    const FuncDictEntry lr = d()->m_funcDict.value(QStringLiteral("LR"));
    QCOMPARE(lr.fnName + QLatin1Char('|') + lr.fnAttrName, QStringLiteral("LayerRegion|layer;region"));
    QVERIFY(lr.fnAddLayer && lr.fnAddRegion);
    const FuncDictEntry k1 = d()->m_funcDict.value(QStringLiteral("K1"));
    QVERIFY(k1.fnAddLayer && !k1.fnAddRegion);

    // NULL reads as empty or false: the group is logged as "null", nothing added.
    const FuncDictEntry nul = d()->m_funcDict.value(QStringLiteral("NUL"));
    QVERIFY(nul.fnGroup.isEmpty() && nul.fnAttrName.isEmpty());
    QVERIFY(!nul.fnAddLayer && !nul.fnAddRegion);
    QCOMPARE(lastRecord().fngroup, QStringLiteral("null"));
    QVERIFY(lastRecord().attrs.isEmpty());
}

void tst_NamedEvents::attributePairing()
{
    KelUbc *ubc = KelUbc::instance();
    auto attrsOf = [&](const QString &code, const QStringList &values) {
        ubc->send(code, values);
        return lastRecord().attrs;
    };
    const QString one = QStringLiteral("1"), two = QStringLiteral("2"), three = QStringLiteral("3");
    const QString x = QStringLiteral("x"), y = QStringLiteral("y"), z = QStringLiteral("z");

    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {one, two}), (Attrs{{x, one}, {y, two}}));
    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {one, two, three, QStringLiteral("4")}),
             (Attrs{{x, one}, {y, two}, {z, three}}));
    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {}), Attrs());
    // Empty parts are names; a later equal name wins.
    QCOMPARE(attrsOf(QStringLiteral("DUP"), {one, two}), (Attrs{{x, one}, {QString(), two}}));
    QCOMPARE(attrsOf(QStringLiteral("DUP"), {one, two, three}), (Attrs{{x, three}, {QString(), two}}));
    // No names at all still make one empty name.
    ubc->send(QStringLiteral("NUL"), one);
    QCOMPARE(lastRecord().attrs, (Attrs{{QString(), one}}));

    // The one-value form is the one-item list.
    ubc->send(QStringLiteral("XYZ"), two);
    const Attrs single = lastRecord().attrs;
    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {two}), single);

    // The map variant takes the caller's map as it is; no pairing.
    const Attrs given{{QStringLiteral("q"), one}, {x, two}};
    ubc->send(QStringLiteral("XYZ"), given);
    QCOMPARE(lastRecord().attrs, given);
    QCOMPARE(lastRecord().fncode + lastRecord().fngroup, QStringLiteral("XYZG"));
}

void tst_NamedEvents::layerAndRegion()
{
    KelUbc *ubc = KelUbc::instance();
    const QString layer = QStringLiteral("layer"), region = QStringLiteral("region");

    // Added where asked, the empty region included.
    ubc->send(QStringLiteral("LR"));
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QStringLiteral("L1")}, {region, QString()}}));

    // A caller's own value wins, even an empty one; "Layer" is another key.
    ubc->send(QStringLiteral("LR"), Attrs{{layer, QString()}, {QStringLiteral("Layer"), QStringLiteral("x")}});
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QString()}, {QStringLiteral("Layer"), QStringLiteral("x")},
                                        {region, QString()}}));
    d()->m_region = QStringLiteral("R1");
    ubc->send(QStringLiteral("LR"), QStringList{QStringLiteral("mine"), QStringLiteral("here")});
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QStringLiteral("mine")}, {region, QStringLiteral("here")}}));
    ubc->send(QStringLiteral("LR"), QStringLiteral("mine"));
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QStringLiteral("mine")}, {region, QStringLiteral("R1")}}));

    // Not asked: nothing added, whatever the current texts are.
    ubc->send(QStringLiteral("XYZ"));
    QVERIFY(lastRecord().attrs.isEmpty());
}

void tst_NamedEvents::locationAndCallOrder()
{
    KelUbc *ubc = KelUbc::instance();
    const QString label = QStringLiteral("Ribbon");

    // A code the dictionary lacks: nothing reaches the log, the label stays.
    d()->m_location = label;
    ubc->send(QStringLiteral("ABSENT"), QStringList{QStringLiteral("v")});
    ubc->send(QStringLiteral("ABSENT"), Attrs{{QStringLiteral("k"), QStringLiteral("v")}});
    QVERIFY(RecordingLog::calls().isEmpty());
    QCOMPARE(d()->m_location, label);

    // A row with no name: initialised, not logged, the label consumed.
    ubc->send(QStringLiteral("NONAME"));
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    QVERIFY(d()->m_location.isEmpty());

    // A logged record: the bracket, then one info line with the fixed context.
    d()->m_location = label;
    RecordingLog::reset();
    ubc->send(QStringLiteral("XYZ"), QStringLiteral("v"));
    QCOMPARE(RecordingLog::calls(),
             (QStringList{QStringLiteral("init"), QStringLiteral("filter:15"), QStringLiteral("log"),
                          QStringLiteral("filter:0"),
                          QStringLiteral("info:src/KelUbc/KelUbc:302:KelUbcPrivate::writeLog")}));
    QCOMPARE(g_infoLines, QStringList{QStringLiteral("\"Pairs\"")});
    QVERIFY(d()->m_location.isEmpty());
    QVERIFY(!lastRecord().attrs.contains(QStringLiteral("location")));
}

QTEST_GUILESS_MAIN(tst_NamedEvents)
#include "tst_namedevents.moc"

// Executed actions and property edits, against a real SQLite dictionary
// beside the executable and the recording behaviour log.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

using Attrs = QMap<QString, QString>;

class tst_Actions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void actionExecute();
    void actionNotRecorded();
    void propertyNameCleaning_data();
    void propertyNameCleaning();
    void propertyEditRecord();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    UbcDataProtocol lastRecord() { return RecordingLog::records().constLast(); }

    QScopedPointer<MessageCapture> capture;
    RecordingTranslator translator;
    const QString ribbon = QStringLiteral("Ribbon工具栏");
};

void tst_Actions::initTestCase()
{
    capture.reset(new MessageCapture);
    QCoreApplication::installTranslator(&translator);
    translator.overrides.insert(QStringLiteral("快捷键"), QStringLiteral("Shortcut"));
    translator.overrides.insert(QStringLiteral("属性"), QStringLiteral("Prop"));

    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
    QFile::remove(path);
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(path);
        QVERIFY(writer.open());
        QSqlQuery query(writer);
        // Only the group of an action's row counts; name, attributes and layer do not.
        QVERIFY(query.exec(QStringLiteral("create table FuncDict (fnName text, fncode text, fnGroup text,"
                                          " fnAttrName text, fnAddLayer integer, fnAddRegion integer)")));
        QVERIFY2(query.exec(QStringLiteral(
                     "insert into FuncDict values ('DictName', 'ACT', 'Draw', 'a;b', 1, 1),"
                     " ('NoGroup', 'NOGRP', NULL, NULL, 1, 1), ('Skipped', '213036', 'G', '', 0, 0)")),
                 qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    QVERIFY(KelUbc::instance());
    QVERIFY(d()->m_db.isOpen());
}

void tst_Actions::init()
{
    RecordingLog::reset();
    MessageCapture::messages().clear();
    d()->m_layer = QStringLiteral("L1");
    d()->m_region = QStringLiteral("R1");
}

void tst_Actions::actionExecute()
{
    KelUbc *ubc = KelUbc::instance();
    const QString location = QStringLiteral("location");

    // The watcher's label goes out with exactly one record, the group from the row.
    d()->m_location = ribbon;
    ubc->sendActionExecute(QStringLiteral("ACT"), QStringLiteral("Line"), false);
    QCOMPARE(RecordingLog::calls(), (QStringList{QStringLiteral("init"), QStringLiteral("filter:15"),
                                                 QStringLiteral("log"), QStringLiteral("filter:0")}));
    QCOMPARE(lastRecord().fncode + lastRecord().fnname + lastRecord().fngroup, QStringLiteral("ACTLineDraw"));
    QCOMPARE(lastRecord().attrs, (Attrs{{location, ribbon}}));
    QCOMPARE(MessageCapture::texts(QtInfoMsg), QStringList{QStringLiteral("\"Line\"")});
    QVERIFY(d()->m_location.isEmpty());

    // No label since: the attribute is there, empty.
    ubc->sendActionExecute(QStringLiteral("ACT"), QStringLiteral("Line"), false);
    QCOMPARE(lastRecord().attrs, (Attrs{{location, QString()}}));

    // A shortcut wins over the label, which is consumed all the same.
    d()->m_location = ribbon;
    ubc->sendActionExecute(QStringLiteral("ACT"), QStringLiteral("Line"), true);
    QCOMPARE(lastRecord().attrs, (Attrs{{location, QStringLiteral("Shortcut")}}));
    QVERIFY(d()->m_location.isEmpty());

    // No row, or a row without a group: "null", the caller's name, one debug line for the miss.
    ubc->sendActionExecute(QStringLiteral("UNKNOWN"), QStringLiteral("Free"), false);
    QCOMPARE(lastRecord().fnname + lastRecord().fngroup, QStringLiteral("Freenull"));
    ubc->sendActionExecute(QStringLiteral("NOGRP"), QStringLiteral("Bare"), false);
    QCOMPARE(lastRecord().fnname + lastRecord().fngroup, QStringLiteral("Barenull"));
    QCOMPARE(MessageCapture::texts(QtDebugMsg).size(), 1);
    QCOMPARE(RecordingLog::records().size(), 5);
}

void tst_Actions::actionNotRecorded()
{
    KelUbc *ubc = KelUbc::instance();

    // An empty or the skipped code: nothing at all, the label kept.
    d()->m_location = ribbon;
    ubc->sendActionExecute(QString(), QStringLiteral("Line"), true);
    ubc->sendActionExecute(QStringLiteral("213036"), QStringLiteral("Line"), false);
    ubc->sendElementPropValueModified(QLatin1String(""), QStringLiteral("p"), QStringLiteral("e"),
                                      QStringLiteral("v"));
    QVERIFY(RecordingLog::calls().isEmpty());
    QCOMPARE(d()->m_location, ribbon);
    QVERIFY(!d()->m_funcDict.contains(QStringLiteral("213036")));

    // A code near the skipped one is recorded.
    ubc->sendActionExecute(QStringLiteral("2130360"), QStringLiteral("Line"), false);
    QCOMPARE(RecordingLog::records().size(), 1);
    QCOMPARE(lastRecord().attrs.value(QStringLiteral("location")), ribbon);

    // An empty name: initialised, not logged, no line, the label consumed.
    RecordingLog::reset();
    MessageCapture::messages().clear();
    d()->m_location = ribbon;
    ubc->sendActionExecute(QStringLiteral("ACT"), QString(), false);
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    QVERIFY(MessageCapture::texts(QtInfoMsg).isEmpty());
    QVERIFY(d()->m_location.isEmpty());
}

void tst_Actions::propertyNameCleaning_data()
{
    QTest::addColumn<QString>("propName");
    QTest::addColumn<QString>("key");

    QTest::newRow("unit after blank") << QStringLiteral("Width (mm)") << QStringLiteral("Width ");
    QTest::newRow("two parts") << QStringLiteral("a(b)c(d)e") << QStringLiteral("ae");
    QTest::newRow("nested") << QStringLiteral("a(b(c)d)e") << QStringLiteral("ae");
    QTest::newRow("extra closing") << QStringLiteral("a(b)c)d") << QStringLiteral("ad");
    QTest::newRow("line break") << QStringLiteral("h(1\n2)t") << QStringLiteral("ht");
    QTest::newRow("lone opening") << QStringLiteral("a(b") << QStringLiteral("a(b");
    QTest::newRow("lone closing") << QStringLiteral("a)b") << QStringLiteral("a)b");
    QTest::newRow("closing first") << QStringLiteral(")a(") << QStringLiteral(")a(");
    QTest::newRow("full width") << QStringLiteral("宽度（毫米）") << QStringLiteral("宽度（毫米）");
    QTest::newRow("all parenthesised") << QStringLiteral("(x)") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void tst_Actions::propertyNameCleaning()
{
    QFETCH(QString, propName);
    QFETCH(QString, key);
    const QString value = QStringLiteral("42");
    KelUbc::instance()->sendElementPropValueModified(QStringLiteral("P1"), propName,
                                                     QStringLiteral("Wall"), value);
    QCOMPARE(RecordingLog::records().size(), 1);
    QCOMPARE(lastRecord().fnname, QStringLiteral("Wall-Prop-") + key);
    QCOMPARE(lastRecord().attrs, (Attrs{{key, value}}));
}

void tst_Actions::propertyEditRecord()
{
    // No dictionary, no location, no layer or region: one attribute, group "null".
    d()->m_location = ribbon;
    KelUbc::instance()->sendElementPropValueModified(QStringLiteral("ACT"), QStringLiteral("Height"),
                                                     QString(), QStringLiteral("3"));
    QCOMPARE(RecordingLog::calls(), (QStringList{QStringLiteral("init"), QStringLiteral("filter:15"),
                                                 QStringLiteral("log"), QStringLiteral("filter:0")}));
    const UbcDataProtocol r = lastRecord();
    QCOMPARE(r.fncode, QStringLiteral("ACT"));
    QCOMPARE(r.fnname, QStringLiteral("-Prop-Height"));
    QCOMPARE(r.fngroup, QStringLiteral("null"));
    QCOMPARE(r.attrs, (Attrs{{QStringLiteral("Height"), QStringLiteral("3")}}));
    QCOMPARE(MessageCapture::texts(QtInfoMsg), QStringList{QStringLiteral("\"-Prop-Height\"")});
    QVERIFY(d()->m_location.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Actions)
#include "tst_actions.moc"

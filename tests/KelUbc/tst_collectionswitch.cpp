// RuvUbc's collection switch silences every road of the facade: records,
// info lines, coded events, time records; state still moves. Switched on
// again, everything flows.

#include "HelperProbe.h"
#include "MessageCapture.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

class tst_CollectionSwitch : public QObject
{
    Q_OBJECT

    QScopedPointer<MessageCapture> capture;
    HelperProbe probe;

private slots:
    void initTestCase()
    {
        capture.reset(new MessageCapture);
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
        QFile::remove(path);
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            writer.setDatabaseName(path);
            QSqlQuery query(writer);
            QVERIFY(writer.open()
                    && query.exec(QStringLiteral("create table FuncDict (fncode text, fnName text, fnGroup text,"
                                                 " fnAttrName text, fnAddLayer integer, fnAddRegion integer)"))
                    && query.exec(QStringLiteral("insert into FuncDict values ('K1', 'Known', 'G', 'x', 1, 0)")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
        QVERIFY(ubc());
        // The RuvUbcAttrType overload is found by that name only.
        QVERIFY((qRegisterMetaType<QMap<QString, QString>>("RuvUbcAttrType")) > 0);
        qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&probe));
    }

private:
    // Every road once, and the state it leaves whatever the switch.
    void drive(bool collecting)
    {
        RecordingLog::reset();
        RuvUbc::instance()->setCollectionEnabled(collecting);
        probe.got.clear();
        MessageCapture::messages().clear();
        SOperation op;
        op.projectId = QStringLiteral("P1");
        op.prjEdoCnt = 7;
        ubc()->setCurLayer(QStringLiteral("L"));
        ubc()->openApp();
        ubc()->newProject(op, {});
        ubc()->setProjRuningTime(0);
        ubc()->send(QStringLiteral("K1"), QStringLiteral("v"));
        pressQuickBar();
        ubc()->sendActionExecute(QStringLiteral("K1"), QStringLiteral("Act"), false);
        // Seen through an action logged with collection on, whose line goes.
        const int messages = MessageCapture::messages().size();
        RuvUbc::instance()->setCollectionEnabled(true);
        QVERIFY2(pendingLocation().isEmpty(), "the label serves one record, logged or not");
        RuvUbc::instance()->setCollectionEnabled(collecting);
        MessageCapture::messages().erase(MessageCapture::messages().begin() + messages, MessageCapture::messages().end());
        ubc()->sendElementPropValueModified(QStringLiteral("E1"), QStringLiteral("Thickness"), QStringLiteral("Wall"),
                                            QStringLiteral("200"));
        QMap<QString, QString> attrs{{QStringLiteral("Layer"), QString()}};
        ubc()->send(123456, attrs);
        QCOMPARE(attrs.value(QStringLiteral("layer")), QStringLiteral("L")); // the caller's map, as always
        ubc()->recordTime(9);
        QString none, key = QStringLiteral("k"), value = QStringLiteral("1");
        ubc()->sendMDByEvent(31, UbcMDEventCommit, false, key, value);
        ubc()->sendMDByEvent(32, UbcMDEventProjectClose, false, none, none);
        ubc()->commitMD(31, none, none, false);
        ubc()->saveProject(op);
        advanceClock(601000);
        QObject receiver;
        QEvent move(QEvent::MouseMove);
        QCoreApplication::sendEvent(&receiver, &move);
        ubc()->closeProject(op);
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(&receiver, &quit);

    }

private slots:
    void everyRoad()
    {
        drive(false);
        if (QTest::currentTestFailed())
            return;
        // Debug lines: only the quit's fixed line, which names nothing of the user's work.
        QCOMPARE(RecordingLog::calls() + probe.got + MessageCapture::texts(QtInfoMsg)
                     + MessageCapture::texts(QtDebugMsg).filter(QStringLiteral("Known")), QStringList());
        QCOMPARE(RecordingLog::records().size(), 0);
        QVERIFY(MessageCapture::texts(QtDebugMsg).contains(QStringLiteral("Tavo>> quit application")));

        // State moved all the same, as collection on shows: the project is
        // current, both statistics are committed, the user is back.
        RuvUbc::instance()->setCollectionEnabled(true);
        ubc()->getProjRuningTime();
        QCOMPARE(ManualTracker::calls().constLast(), QStringLiteral("get:P1"));
        QString none;
        ubc()->commitMD(31, none, none, false);
        ubc()->closeProject(SOperation());
        QObject receiver;
        QEvent move(QEvent::MouseMove);
        QCoreApplication::sendEvent(&receiver, &move);
        QCOMPARE(probe.got, QStringList{QStringLiteral("time 580101003")});

        // The statistics committed while collection was off do not leak now.
        drive(true);
        if (QTest::currentTestFailed())
            return;
        QStringList names;
        for (const UbcDataProtocol &r : RecordingLog::records())
            names << r.fncode;
        QCOMPARE(names.join(QLatin1Char(' ')), QStringLiteral("990007 990003 K1 K1 E1 990005 990006 990002"));
        QCOMPARE(MessageCapture::texts(QtInfoMsg).size(), names.size());
        QCOMPARE(probe.got.join(QLatin1Char('|')),
                 QStringLiteral("123456 {layer=L}|time 9|31 {k=1}|580101004 {layer=L;prjedocnt=7}|"
                                "580101002|580101003|time 580101003|32 {}"));
    }
};

QTEST_GUILESS_MAIN(tst_CollectionSwitch)
#include "tst_collectionswitch.moc"

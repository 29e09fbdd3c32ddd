// One whole application session through the facade, against the real
// behaviour log, the real tracker and the host kit's helper, checked in the
// files that they write.

#include "KelUbcPrivate.h"
#include "TestLogs.h"

#include <KelTimeTracker.h>
#include <KelUbcTranslator.h>
#include <RuvUbcHelper.h>

#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtTest/QtTest>

class tst_Session : public QObject
{
    Q_OBJECT

private slots:
    void wholeSession()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString recordsPath = dir.filePath(QStringLiteral("records.jsonl")),
                      journalPath = dir.filePath(QStringLiteral("events.jsonl"));
        QCoreApplication::installTranslator(new KelUbcTranslator(KelUbcTranslator::Chinese, qApp));
        QVERIFY(RuvUbcHelper::publish(new RuvUbcHelper(journalPath, qApp)));

        KelUbc *ubc = KelUbc::instance();
        KelUbcPrivate *d = KelUbcPrivate::get(ubc); // the clock, instead of waiting
        ubc->setLogFilePath(recordsPath);
        ubc->openApp();
        ubc->startApp();
        d->advanceClockForTesting(75000); // half-second margins against truncation
        ubc->setCurLayer(QStringLiteral("L2"));
        const SOperation op{dir.filePath(QStringLiteral("p.prj")), 0, 7, 12345, QStringLiteral("工程-1")};
        ubc->newProject(op, {{QStringLiteral("template"), QStringLiteral("blank")}});

        ubc->setProjRuningTime(5000); // the host resumes the project's working time

        QString layer = QStringLiteral("layer"), none, kind = QStringLiteral("kind"),
                wall = QStringLiteral("wall"), beam = QStringLiteral("beam"),
                upper = QStringLiteral("Layer"), raw = QStringLiteral("raw");
        ubc->sendMDByEvent(7001, UbcMDEventCommit, true, kind, wall);
        ubc->sendMDByEvent(7001, UbcMDEventCommit, false, layer, none);
        ubc->sendMDByEvent(7002, UbcMDEventProjectClose, false, kind, beam);
        ubc->sendMDByEvent(7002, UbcMDEventProjectClose, false, upper, raw);
        ubc->sendMDByEvent(7003, UbcMDEventCommit, false, kind, beam); // never committed
        // 3.5 s more of working time without waiting for it.
        KelTimeTracker::getInstance()->startTrackWork(op.projectId.toStdString(), ubc->getProjRuningTime() + 3500);
        QString result = QStringLiteral("result"), ok = QStringLiteral("ok");
        ubc->commitMD(7001, result, ok, false);

        ubc->saveProject(op);
        d->advanceClockForTesting(125500);
        ubc->closeProject(op);
        QCOMPARE(ubc->getProjRuningTime(), qint64(0)); // the tracker forgot the project

        // The host quits through its event loop; the library sees the quit itself.
        // Qt 5's quit() stops the loop without a Quit event; the platform's
        // termination request posts one, as here.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); });
        QCOMPARE(qApp->exec(), 0);

        // The behaviour log: every record, in order, as one JSON object per line.
        QCOMPARE(TestLogs::rows(TestLogs::objects(recordsPath), QStringLiteral("fncode fnname fngroup projectid prjfullpath prjedocnt prjsize "
                                                    "duration attrs")),
                 (QStringList{QStringLiteral("990007|打开软件|特殊功能||||||{}"), QStringLiteral("990001|启动软件|特殊功能||||||{}"),
                              QStringLiteral("990003|新建工程|特殊功能|%1|%2||||{\"template\":\"blank\"}")
                                  .arg(op.projectId, op.prjFullPath),
                              QStringLiteral("990005|保存工程|特殊功能|%1||7|12||{}").arg(op.projectId),
                              QStringLiteral("990006|关闭工程|特殊功能|%1||7|12|125|{}").arg(op.projectId),
                              QStringLiteral("990002|关闭软件|特殊功能|||||200|{}")}));

        // The helper's journal: the commit, the count of the save, the statistic
        // that waited for the close; nothing else.
        QCOMPARE(TestLogs::rows(TestLogs::objects(journalPath), QStringLiteral("code attrs")),
                 (QStringList{QStringLiteral("7001|{\"kind\":\"wall\",\"layer\":\"L2\",\"result\":\"ok\","
                                             "\"tjsc\":\"3\"}"),
                              QStringLiteral("580101004|{\"layer\":\"L2\",\"prjedocnt\":\"7\"}"),
                              QStringLiteral("7002|{\"Layer\":\"raw\",\"kind\":\"beam\"}")}));
    }
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"

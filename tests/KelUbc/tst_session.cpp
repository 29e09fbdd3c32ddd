// One whole application session through the facade, against the real
// behaviour log, the real tracker and the host kit's helper, checked in the
// files that they write.

#include "KelUbcPrivate.h"

#include <KelTimeTracker.h>
#include <KelUbcTranslator.h>
#include <RuvUbcHelper.h>

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtTest/QtTest>

namespace {

// Every line of a JSON-lines file; a line that is not an object reads as empty.
QList<QJsonObject> readLines(const QString &path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd())
            out << QJsonDocument::fromJson(file.readLine()).object();
    }
    return out;
}

// The named fields of each line as "a|b|c"; an object field as compact JSON.
QStringList fields(const QList<QJsonObject> &lines, const QStringList &names)
{
    QStringList out;
    for (const QJsonObject &o : lines) {
        QStringList values;
        for (const QString &name : names) {
            const QJsonValue v = o.value(name);
            values << (v.isObject() ? QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact))
                                    : v.toString());
        }
        out << values.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class tst_Session : public QObject
{
    Q_OBJECT

private slots:
    void wholeSession();
};

void tst_Session::wholeSession()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString recordsPath = dir.filePath(QStringLiteral("records.jsonl"));
    const QString journalPath = dir.filePath(QStringLiteral("events.jsonl"));
    QCoreApplication::installTranslator(new KelUbcTranslator(KelUbcTranslator::Chinese, qApp));
    QVERIFY(RuvUbcHelper::publish(new RuvUbcHelper(journalPath, qApp)));

    KelUbc *ubc = KelUbc::instance();
    KelUbcPrivate *d = KelUbcPrivate::get(ubc);
    ubc->setLogFilePath(recordsPath);
    ubc->openApp();
    ubc->startApp();
    d->m_appStartTime = d->m_appStartTime.addMSecs(-200500); // margins against truncation
    ubc->setCurLayer(QStringLiteral("L2"));

    SOperation op;
    op.projectId = QStringLiteral("工程-1");
    op.prjFullPath = dir.filePath(QStringLiteral("p.prj"));
    ubc->newProject(op, {{QStringLiteral("template"), QStringLiteral("blank")}});

    // The real tracker resumes from the host's value and keeps counting.
    QElapsedTimer span;
    span.start();
    ubc->setProjRuningTime(5000);
    const qint64 running = ubc->getProjRuningTime();
    QVERIFY(running >= 5000);
    QVERIFY(running <= 5000 + span.elapsed() + 1);

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
    ubc->commitMD(7001, result, ok, true);

    op.prjEdoCnt = 7;
    op.prjSize = 12345;
    ubc->saveProject(op);
    d->m_projectOpenTime = d->m_projectOpenTime.addMSecs(-125500);
    ubc->closeProject(op);
    QCOMPARE(ubc->getProjRuningTime(), qint64(0)); // the tracker forgot the project

    // The host quits through its event loop; the library sees the quit itself.
    // Qt 5's quit() stops the loop without a Quit event; the platform's
    // termination request posts one, as here.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); });
    QCOMPARE(qApp->exec(), 0);

    // The behaviour log: every record, in order, as one JSON object per line.
    const QList<QJsonObject> records = readLines(recordsPath);
    QCOMPARE(fields(records, {QStringLiteral("fncode"), QStringLiteral("fnname"), QStringLiteral("fngroup")}),
             (QStringList{QStringLiteral("990007|打开软件|特殊功能"), QStringLiteral("990001|启动软件|特殊功能"),
                          QStringLiteral("990003|新建工程|特殊功能"), QStringLiteral("990005|保存工程|特殊功能"),
                          QStringLiteral("990006|关闭工程|特殊功能"), QStringLiteral("990002|关闭软件|特殊功能")}));
    QCOMPARE(fields(records.mid(2, 1),
                    {QStringLiteral("projectid"), QStringLiteral("prjfullpath"), QStringLiteral("attrs")}),
             QStringList{op.projectId + QLatin1Char('|') + op.prjFullPath + QStringLiteral("|{\"template\":\"blank\"}")});
    QCOMPARE(fields(records.mid(3, 2), {QStringLiteral("prjedocnt"), QStringLiteral("prjsize")}),
             (QStringList{QStringLiteral("7|12"), QStringLiteral("7|12")}));
    QCOMPARE(fields(records.mid(4, 2), {QStringLiteral("duration")}),
             (QStringList{QStringLiteral("125"), QStringLiteral("200")}));

    // The helper's journal: the commit, the count of the save, the statistic
    // that waited for the close; nothing else.
    const QList<QJsonObject> events = readLines(journalPath);
    QCOMPARE(fields(events, {QStringLiteral("code"), QStringLiteral("attrs")}),
             (QStringList{QStringLiteral("7001|{\"kind\":\"wall\",\"layer\":\"L2\",\"result\":\"ok\",\"tjsc\":\"3\"}"),
                          QStringLiteral("580101004|{\"layer\":\"L2\",\"prjedocnt\":\"7\"}"),
                          QStringLiteral("7002|{\"Layer\":\"raw\",\"kind\":\"beam\"}")}));

    // Each coded event came after the record that caused it.
    auto at = [](const QJsonObject &o, const char *name) {
        return QDateTime::fromString(o.value(QLatin1String(name)).toString(), Qt::ISODateWithMs);
    };
    QVERIFY(at(events[1], "time") >= at(records[3], "trigertime"));
    QVERIFY(at(events[2], "time") >= at(records[4], "trigertime"));
    QVERIFY(at(events[2], "time") <= at(records[5], "trigertime"));
}

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"

// One whole application session through the facade, against the real
// behaviour log, the real tracker and the host kit's helper, checked in the
// files that they write.

#include "KelUbc.h"
#include "KelUbcPrivate.h"

#include <KelTimeTracker.h>
#include <KelUbcTranslator.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtTest/QtTest>

namespace {

// Every line of a JSON-lines file, each of which must be an object.
QList<QJsonObject> readLines(const QString &path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read %s", qPrintable(path));
        return out;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        ++number;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            qWarning("%s:%d does not parse: %s", qPrintable(path), number, line.constData());
            return {};
        }
        out << doc.object();
    }
    return out;
}

QStringList field(const QList<QJsonObject> &lines, const char *name)
{
    QStringList out;
    for (const QJsonObject &o : lines)
        out << o.value(QLatin1String(name)).toString();
    return out;
}

QVariantMap attrs(const QJsonObject &o) { return o.value(QStringLiteral("attrs")).toObject().toVariantMap(); }

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
    RuvUbcHelper *helper = RuvUbcHelper::publish(new RuvUbcHelper(journalPath, qApp));
    QVERIFY(helper);

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
    const std::string key = op.projectId.toStdString();

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
    KelTimeTracker::getInstance()->startTrackWork(key, ubc->getProjRuningTime() + 3500);
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
    QCOMPARE(field(records, "fncode"),
             (QStringList{QStringLiteral("990007"), QStringLiteral("990001"), QStringLiteral("990003"),
                          QStringLiteral("990005"), QStringLiteral("990006"), QStringLiteral("990002")}));
    QCOMPARE(field(records, "fnname"),
             (QStringList{QStringLiteral("打开软件"), QStringLiteral("启动软件"), QStringLiteral("新建工程"),
                          QStringLiteral("保存工程"), QStringLiteral("关闭工程"), QStringLiteral("关闭软件")}));
    for (const QJsonObject &r : records)
        QCOMPARE(r.value(QStringLiteral("fngroup")).toString(), QStringLiteral("特殊功能"));
    const QJsonObject created = records[2], saved = records[3], closed = records[4];
    QCOMPARE(created.value(QStringLiteral("projectid")).toString(), op.projectId);
    QCOMPARE(created.value(QStringLiteral("prjfullpath")).toString(), op.prjFullPath);
    QCOMPARE(attrs(created), (QVariantMap{{QStringLiteral("template"), QStringLiteral("blank")}}));
    QCOMPARE(saved.value(QStringLiteral("prjedocnt")).toString(), QStringLiteral("7"));
    QCOMPARE(saved.value(QStringLiteral("prjsize")).toString(), QStringLiteral("12"));
    QCOMPARE(closed.value(QStringLiteral("duration")).toString(), QStringLiteral("125"));
    QCOMPARE(closed.value(QStringLiteral("prjsize")).toString(), QStringLiteral("12"));
    QCOMPARE(records[5].value(QStringLiteral("duration")).toString(), QStringLiteral("200"));

    // The helper's journal: the commit, the count of the save, the statistic
    // that waited for the close; nothing else.
    const QList<QJsonObject> events = readLines(journalPath);
    QCOMPARE(field(events, "code"),
             (QStringList{QStringLiteral("7001"), QStringLiteral("580101004"), QStringLiteral("7002")}));
    QCOMPARE(attrs(events[0]), (QVariantMap{{QStringLiteral("kind"), QStringLiteral("wall")},
                                            {QStringLiteral("layer"), QStringLiteral("L2")},
                                            {QStringLiteral("result"), QStringLiteral("ok")},
                                            {QStringLiteral("tjsc"), QStringLiteral("3")}}));
    QCOMPARE(attrs(events[1]), (QVariantMap{{QStringLiteral("layer"), QStringLiteral("L2")},
                                            {QStringLiteral("prjedocnt"), QStringLiteral("7")}}));
    QCOMPARE(attrs(events[2]), (QVariantMap{{QStringLiteral("Layer"), QStringLiteral("raw")},
                                            {QStringLiteral("kind"), QStringLiteral("beam")}}));
    for (const QJsonObject &e : events)
        QVERIFY(QDateTime::fromString(e.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());

    // Each coded event came after the record that caused it.
    auto at = [](const QJsonObject &o, const char *name) {
        return QDateTime::fromString(o.value(QLatin1String(name)).toString(), Qt::ISODateWithMs);
    };
    QVERIFY(at(events[1], "time") >= at(saved, "trigertime"));
    QVERIFY(at(events[2], "time") >= at(closed, "trigertime"));
    QVERIFY(at(events[2], "time") <= at(records[5], "trigertime"));
}

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"

// The facade, its private state, the behaviour-log bracket and the
// application records, against the recording behaviour log.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtTest/QtTest>

class tst_Facade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void applicationRecords();
    void durations();
    void translationEdges();
    void passThroughAndSetters();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    QScopedPointer<MessageCapture> capture;
    RecordingTranslator translator; // answers with the GBK-decoded source text
};

void tst_Facade::initTestCase()
{
    capture.reset(new MessageCapture);
    const QString dictionary = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
    QFile::remove(dictionary);
    QCoreApplication::installTranslator(&translator);
    const QDateTime beforeConstruction = QDateTime::currentDateTimeUtc();

    KelUbc *first = KelUbc::instance();
    QVERIFY(first);
    QCOMPARE(KelUbc::instance(), first);
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QStringLiteral("KelUbc")});

    // No dictionary: one debug line with the error, and no file made.
    const QStringList debug = MessageCapture::texts(QtDebugMsg);
    QCOMPARE(debug.size(), 1);
    QVERIFY(debug.first().startsWith(QStringLiteral("QSqlError(")));
    QVERIFY(!QFile::exists(dictionary));

    // A fresh private object: null versus empty strings, null times.
    KelUbcPrivate *p = d();
    QVERIFY(p->m_projectId.isNull() && p->m_location.isNull());
    for (const QString *text : {&p->m_major, &p->m_layer, &p->m_region})
        QVERIFY(!text->isNull() && text->isEmpty());
    QVERIFY(p->m_appStartTime.isNull() && p->m_projectOpenTime.isNull());
    QVERIFY(p->m_lastActivity >= beforeConstruction && p->m_lastActivity <= QDateTime::currentDateTimeUtc());
}

void tst_Facade::applicationRecords()
{
    RecordingLog::reset();
    MessageCapture::messages().clear();
    translator.requests.clear();
    d()->m_location = QStringLiteral("somewhere");
    KelUbc::instance()->openApp();
    QVERIFY(d()->m_location.isEmpty());
    KelUbc::instance()->startApp();
    KelUbc::instance()->closeApp();

    const QStringList bracket{QStringLiteral("init"), QStringLiteral("filter:15"),
                              QStringLiteral("log"), QStringLiteral("filter:0")};
    QCOMPARE(RecordingLog::calls(), bracket + bracket + bracket);

    // The fields each record sets; the rest as initialisation left them,
    // but no attributes.
    const UbcDataProtocol initial = RecordingLog::initialRecord();
    const QString special = QStringLiteral("特殊功能");
    const QList<QStringList> expected{{QStringLiteral("990007"), QStringLiteral("打开软件"), special, initial.duration},
                                      {QStringLiteral("990001"), QStringLiteral("启动软件"), special, initial.duration},
                                      {QStringLiteral("990002"), QStringLiteral("关闭软件"), special, QStringLiteral("0")}};
    const QList<UbcDataProtocol> records = RecordingLog::records();
    for (int i = 0; i < records.size(); ++i) {
        const UbcDataProtocol &r = records[i];
        QCOMPARE((QStringList{r.fncode, r.fnname, r.fngroup, r.duration}), expected[i]);
        QVERIFY(r.attrs.isEmpty());
        QCOMPARE(r.sessionid + r.prjfullpath, initial.sessionid + initial.prjfullpath);
    }

    // The labels reached translate() as GBK bytes (the Chinese names above
    // are their decoding), under "KelUbc", with no disambiguation and n -1.
    QCOMPARE(translator.requests.size(), 6);
    for (const RecordingTranslator::Request &request : qAsConst(translator.requests))
        QVERIFY(request.context == "KelUbc" && request.disambiguationNull && request.n == -1);

    // One info line per record, fnname quoted, with the fixed context.
    QStringList infos;
    for (const MessageCapture::Message &m : MessageCapture::messages())
        if (m.type == QtInfoMsg)
            infos << QStringLiteral("%1 %2:%3 %4").arg(m.text, m.file).arg(m.line).arg(m.function);
    const QString context = QStringLiteral(" src/KelUbc/KelUbc:302 KelUbcPrivate::writeLog");
    QCOMPARE(infos, (QStringList{QStringLiteral("\"打开软件\"") + context, QStringLiteral("\"启动软件\"") + context,
                                 QStringLiteral("\"关闭软件\"") + context}));
}

void tst_Facade::durations()
{
    KelUbcPrivate *p = d();
    KelUbc *ubc = KelUbc::instance();
    auto lastDuration = [] { return RecordingLog::records().constLast().duration; };

    p->m_appStartTime = QDateTime();
    ubc->closeApp();
    QCOMPARE(lastDuration(), QStringLiteral("0"));

    // Half a second of margin keeps the truncated result stable.
    ubc->startApp();
    QVERIFY(p->m_appStartTime.isValid());
    p->m_appStartTime = KelUbcPrivate::now().addMSecs(-90500);
    ubc->closeApp();
    QCOMPARE(lastDuration(), QStringLiteral("90"));
    p->m_appStartTime = p->m_appStartTime.addSecs(-10); // a second close measures from the same start
    ubc->closeApp();
    QCOMPARE(lastDuration(), QStringLiteral("100"));

    p->m_appStartTime = KelUbcPrivate::now().addMSecs(5500); // clock set back
    ubc->closeApp();
    QCOMPARE(lastDuration(), QStringLiteral("-5"));
}

void tst_Facade::translationEdges()
{
    // A translation to an empty name: nothing logged, the bracket untouched,
    // the location cleared all the same.
    translator.overrides.insert(QStringLiteral("打开软件"), QLatin1String(""));
    RecordingLog::reset();
    d()->m_location = QStringLiteral("somewhere");
    KelUbc::instance()->openApp();
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    QVERIFY(d()->m_location.isEmpty());

    // A translation to an empty group is logged as "null".
    translator.overrides = {{QStringLiteral("特殊功能"), QLatin1String("")}};
    KelUbc::instance()->openApp();
    QCOMPARE(RecordingLog::records().size(), 1);
    QCOMPARE(RecordingLog::records().constFirst().fngroup, QStringLiteral("null"));
    translator.overrides.clear();
}

void tst_Facade::passThroughAndSetters()
{
    KelUbc *ubc = KelUbc::instance();
    RecordingLog::reset();
    ubc->setLogFilePath(QString());
    ubc->addLogFilePath(QLatin1String(""));
    QVERIFY(RecordingLog::calls().isEmpty());

    ubc->setLogFilePath(QStringLiteral("/tmp/a.jsonl"));
    ubc->addLogFilePath(QStringLiteral("/tmp/b.jsonl"));
    ubc->unLock();
    ubc->openApp(); // a record closes the bracket with 0, so unLock holds only until then
    ubc->lock();
    QCOMPARE(RecordingLog::calls(),
             (QStringList{QStringLiteral("path:/tmp/a.jsonl"), QStringLiteral("mirror:/tmp/b.jsonl"),
                          QStringLiteral("filter:15"), QStringLiteral("init"), QStringLiteral("filter:15"),
                          QStringLiteral("log"), QStringLiteral("filter:0"), QStringLiteral("filter:0")}));

    // The major is kept but reaches no record.
    ubc->setCurMajor(QStringLiteral("Structure"));
    QCOMPARE(d()->m_major, QStringLiteral("Structure"));
    RecordingLog::reset();
    ubc->startApp();
    const UbcDataProtocol r = RecordingLog::records().constFirst();
    QVERIFY(r.major.isEmpty() && !r.attrs.values().contains(QStringLiteral("Structure")));
}

QTEST_GUILESS_MAIN(tst_Facade)
#include "tst_facade.moc"

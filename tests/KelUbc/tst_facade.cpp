// The facade, its private state, the behaviour-log bracket and the
// application records, against the recording behaviour log.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtTest/QtTest>

class tst_Facade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingDictionaryStillWorks();
    void applicationRecords();
    void durations();
    void labelsReachTranslateAsGbk();
    void translationEdges();
    void passThroughAndSetters();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    QScopedPointer<MessageCapture> capture;
    RecordingTranslator translator;
    QDateTime beforeConstruction;
};

void tst_Facade::initTestCase()
{
    capture.reset(new MessageCapture);
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db"));
    QCoreApplication::installTranslator(&translator);
    beforeConstruction = QDateTime::currentDateTimeUtc();

    KelUbc *first = KelUbc::instance();
    QVERIFY(first);
    QCOMPARE(KelUbc::instance(), first);
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QStringLiteral("KelUbc")});

    // A fresh private object: null versus empty strings, null times.
    KelUbcPrivate *p = d();
    QVERIFY(p->m_projectId.isNull());
    QVERIFY(p->m_location.isNull());
    for (const QString *text : {&p->m_major, &p->m_layer, &p->m_region}) {
        QVERIFY(!text->isNull());
        QVERIFY(text->isEmpty());
    }
    QVERIFY(p->m_appStartTime.isNull());
    QVERIFY(p->m_projectOpenTime.isNull());
    QVERIFY(p->m_lastActivity >= beforeConstruction);
    QVERIFY(p->m_lastActivity <= QDateTime::currentDateTimeUtc());
    QVERIFY(p->m_funcDict.isEmpty());
    QVERIFY(p->m_mdStates.isEmpty());
}

void tst_Facade::missingDictionaryStillWorks()
{
    // The open failed with one debug line and created no file.
    QCOMPARE(MessageCapture::texts(QtDebugMsg).size(), 1);
    QVERIFY(MessageCapture::texts(QtDebugMsg).first().startsWith(QStringLiteral("QSqlError(")));
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db")));
    QVERIFY(!d()->m_db.isOpen());

    // Records that need no dictionary still flow.
    RecordingLog::reset();
    KelUbc::instance()->openApp();
    QCOMPARE(RecordingLog::records().size(), 1);
}

void tst_Facade::applicationRecords()
{
    RecordingLog::reset();
    MessageCapture::messages().clear();
    d()->m_location = QStringLiteral("somewhere");

    KelUbc::instance()->openApp();
    QVERIFY(d()->m_location.isEmpty());
    KelUbc::instance()->startApp();
    KelUbc::instance()->closeApp();

    const QStringList bracket{QStringLiteral("init"), QStringLiteral("filter:15"),
                              QStringLiteral("log"), QStringLiteral("filter:0")};
    QCOMPARE(RecordingLog::calls(), bracket + bracket + bracket);

    const QList<UbcDataProtocol> records = RecordingLog::records();
    const QStringList codes{records[0].fncode, records[1].fncode, records[2].fncode};
    QCOMPARE(codes, (QStringList{QStringLiteral("990007"), QStringLiteral("990001"),
                                 QStringLiteral("990002")}));
    QCOMPARE(records[0].fnname, QStringLiteral("打开软件"));
    QCOMPARE(records[1].fnname, QStringLiteral("启动软件"));
    QCOMPARE(records[2].fnname, QStringLiteral("关闭软件"));
    const UbcDataProtocol initial = RecordingLog::initialRecord();
    for (const UbcDataProtocol &r : records) {
        QCOMPARE(r.fngroup, QStringLiteral("特殊功能"));
        QVERIFY(r.attrs.isEmpty()); // what initialisation put there is gone
        QCOMPARE(r.sessionid, initial.sessionid);
        QCOMPARE(r.prjfullpath, initial.prjfullpath);
    }
    QCOMPARE(records[0].duration, initial.duration);
    QCOMPARE(records[1].duration, initial.duration);
    QCOMPARE(records[2].duration, QStringLiteral("0"));

    // One info line per record, with the fixed context, fnname quoted.
    QList<MessageCapture::Message> infos;
    for (const auto &m : MessageCapture::messages())
        if (m.type == QtInfoMsg)
            infos << m;
    QCOMPARE(infos.size(), 3);
    QCOMPARE(infos[0].text, QStringLiteral("\"打开软件\""));
    QCOMPARE(infos[2].file, QStringLiteral("src/KelUbc/KelUbc"));
    QCOMPARE(infos[2].line, 302);
    QCOMPARE(infos[2].function, QStringLiteral("KelUbcPrivate::writeLog"));
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

void tst_Facade::labelsReachTranslateAsGbk()
{
    translator.requests.clear();
    KelUbc::instance()->startApp();
    QCOMPARE(translator.requests.size(), 2);
    for (const auto &request : translator.requests) {
        QCOMPARE(request.context, QByteArray("KelUbc"));
        QVERIFY(request.disambiguationNull);
        QCOMPARE(request.n, -1);
    }
    QCOMPARE(translator.requests[0].source, QByteArray("\xc6\xf4\xb6\xaf\xc8\xed\xbc\xfe"));
    QCOMPARE(translator.requests[1].source, QByteArray("\xcc\xd8\xca\xe2\xb9\xa6\xc4\xdc"));

    // Every stored label is GBK for its Chinese text.
    const QStringList texts{
        QStringLiteral("特殊功能"), QStringLiteral("启动软件"), QStringLiteral("打开软件"),
        QStringLiteral("关闭软件"), QStringLiteral("打开工程"), QStringLiteral("新建工程"),
        QStringLiteral("保存工程"), QStringLiteral("关闭工程"), QStringLiteral("Ribbon工具栏"),
        QStringLiteral("右键"), QStringLiteral("视图面板"), QStringLiteral("快捷键"),
        QStringLiteral("Ribbon快捷栏"), QStringLiteral("属性")};
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    for (int i = 0; i < KelUbcPrivate::LabelCount; ++i)
        QCOMPARE(QByteArray(KelUbcPrivate::labelSource(KelUbcPrivate::Label(i))),
                 gbk->fromUnicode(texts.at(i)));
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
    translator.overrides.clear();
    translator.overrides.insert(QStringLiteral("特殊功能"), QLatin1String(""));
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
                          QStringLiteral("filter:15"), QStringLiteral("init"),
                          QStringLiteral("filter:15"), QStringLiteral("log"),
                          QStringLiteral("filter:0"), QStringLiteral("filter:0")}));

    // The setters store their texts as given; the major reaches no record.
    ubc->setCurLayer(QStringLiteral("L1"));
    ubc->setCurRegion(QLatin1String(""));
    ubc->setCurMajor(QStringLiteral("Structure"));
    QCOMPARE(d()->m_layer, QStringLiteral("L1"));
    QVERIFY(d()->m_region.isEmpty());
    RecordingLog::reset();
    ubc->startApp();
    const UbcDataProtocol r = RecordingLog::records().constFirst();
    QVERIFY(r.major.isEmpty());
    QVERIFY(!r.attrs.values().contains(QStringLiteral("Structure")));
}

QTEST_GUILESS_MAIN(tst_Facade)
#include "tst_facade.moc"

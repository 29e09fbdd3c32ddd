// The host kit: the helper's journal, its publication, and the translator
// against the library's own label bytes.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"

#include <KelUbcTranslator.h>
#include <RuvUbcHelper.h>

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtTest/QtTest>

typedef QMap<QString, QString> Attrs;

class tst_KelUbcHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { capture.reset(new MessageCapture); }
    void journalLines();
    void journalOutage();
    void publication();
    void translatorLabels();

private:
    static QList<QByteArray> lines(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    }
    QScopedPointer<MessageCapture> capture;
    QTemporaryDir dir;
};

void tst_KelUbcHost::journalLines()
{
    const QString path = dir.filePath(QStringLiteral("a/b/events.jsonl")); // folders missing
    RuvUbcHelper helper(path);
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    const quint64 largest = std::numeric_limits<quint64>::max();
    const Attrs tricky{{QStringLiteral("layer"), QStringLiteral("\"q\" \\ \n\t\x01 层")},
                       {QStringLiteral("键"), QString::fromUtf8("\xf0\x9f\x98\x80")}};
    const QList<QPair<quint64, const Attrs *>> events{
        {0, nullptr}, {largest, &tricky}, {(quint64(1) << 53) + 1, nullptr}, {580101002, nullptr}};
    const Attrs empty;

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    for (int i = 0; i < events.size(); ++i) {
        const quint64 code = events[i].first;
        if (i == 3)
            helper.sendData(code, empty);
        else if (events[i].second)
            helper.sendData(code, *events[i].second);
        else
            helper.sendData(code);
        QCOMPARE(lines(path).size(), i + 2); // complete, newline included, on return
    }
    helper.recordTime(5);
    helper.recordTime(5);
    QCOMPARE(lines(path).size(), 5); // time records are only counted
    QCOMPARE(helper.timeRecords(), (QMap<quint64, int>{{5, 2}}));
    QCOMPARE(helper.timeRecordCount(), 2);
    QCOMPARE(helper.eventCount(), 4);
    QCOMPARE(sent.size(), 4);
    QCOMPARE(sent.at(1).at(1).value<RuvUbcAttrType>(), tricky);
    QCOMPARE(sent.at(2).at(2).toBool(), false);
    QCOMPARE(sent.at(3).at(2).toBool(), true);

    RuvUbcHelper(path).sendData(9); // another helper appends to the same file
    const QList<QByteArray> written = lines(path);
    QCOMPARE(written.size(), 6);
    for (int i = 0; i < 5; ++i) {
        QJsonParseError error;
        const QJsonObject line = QJsonDocument::fromJson(written[i], &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, written[i]);
        QCOMPARE(line.keys(), (QStringList{QStringLiteral("attrs"), QStringLiteral("code"),
                                           QStringLiteral("time")}));
        const quint64 code = i < 4 ? events[i].first : 9;
        QCOMPARE(line.value(QStringLiteral("code")).toString(), QString::number(code));
        const QDateTime time = QDateTime::fromString(line.value(QStringLiteral("time")).toString(),
                                                     Qt::ISODateWithMs);
        QCOMPARE(time.timeSpec(), Qt::UTC);
        QVERIFY(time >= before && time <= QDateTime::currentDateTimeUtc());
        const QJsonValue attrs = line.value(QStringLiteral("attrs"));
        if (i == 1) {
            QCOMPARE(attrs.toObject().toVariantMap().size(), 2);
            for (auto it = tricky.cbegin(); it != tricky.cend(); ++it)
                QCOMPARE(attrs.toObject().value(it.key()).toString(), it.value());
        } else {
            QCOMPARE(attrs.isObject(), i == 3); // empty map: {}; no map: null
            QCOMPARE(attrs.isNull(), i != 3);
        }
    }
    QVERIFY(MessageCapture::messages().isEmpty());
}

void tst_KelUbcHost::journalOutage()
{
    // A file where the journal's folder should be.
    auto blocked = [this](const QString &name) {
        QFile block(dir.filePath(name));
        return block.open(QIODevice::WriteOnly) ? block.fileName() + QStringLiteral("/events.jsonl")
                                                 : QString();
    };
    const QString path = blocked(QStringLiteral("blocker"));
    RuvUbcHelper helper(path);
    MessageCapture::messages().clear();
    helper.sendData(1);
    helper.sendData(2, Attrs{{QStringLiteral("k"), QStringLiteral("v")}});
    QCOMPARE(helper.eventCount(), 2);
    QCOMPARE(helper.pendingLines(), 2);
    QVERIFY(!helper.flushJournal());
    QCOMPARE(MessageCapture::texts(QtWarningMsg).size(), 1); // one per outage

    // Nothing is lost once the folder can be made, and the order holds.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("blocker"))));
    helper.sendData(3);
    QCOMPARE(helper.pendingLines(), 0);
    const QList<QByteArray> written = lines(path);
    QCOMPARE(written.size(), 4);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(written[i].contains("\"code\":\"" + QByteArray::number(i + 1) + '"'), written[i]);

    // Waiting lines follow a new path; an empty path turns the journal off.
    helper.setJournalPath(blocked(QStringLiteral("blocker2")));
    helper.sendData(4);
    QCOMPARE(helper.pendingLines(), 1);
    QCOMPARE(MessageCapture::texts(QtWarningMsg).size(), 2);
    helper.setJournalPath(path);
    QCOMPARE(helper.pendingLines(), 0);
    QVERIFY(lines(path).at(3).contains("\"code\":\"4\""));
    helper.setJournalPath(QString());
    helper.sendData(5);
    QCOMPARE(lines(path).size(), 5);
    QCOMPARE(helper.pendingLines(), 0);
}

void tst_KelUbcHost::publication()
{
    QCOMPARE(QMetaType::type("RuvUbcAttrType"), qMetaTypeId<Attrs>());
    RuvUbcHelper helper;
    QCOMPARE(RuvUbcHelper::publish(&helper), &helper);
    // The lookup KelUbc makes.
    const QVariant stored = qApp->property("RuvUbcHelper");
    QCOMPARE(qobject_cast<QObject *>(qvariant_cast<QObject *>(stored)), static_cast<QObject *>(&helper));
    RuvUbcHelper::publish(nullptr);
    QVERIFY(!qApp->property("RuvUbcHelper").isValid());

    // One destroyed in its own thread takes itself off through the queue.
    QThread thread;
    RuvUbcHelper *remote = new RuvUbcHelper;
    remote->moveToThread(&thread);
    RuvUbcHelper::publish(remote);
    connect(&thread, &QThread::started, remote, &QObject::deleteLater);
    thread.start();
    QTRY_VERIFY(!qApp->property("RuvUbcHelper").isValid());
    thread.quit();
    QVERIFY(thread.wait(5000));
    // Another helper published meanwhile stays.
    RuvUbcHelper::publish(&helper);
    { RuvUbcHelper other; }
    QCOMPARE(qvariant_cast<QObject *>(qApp->property("RuvUbcHelper")), static_cast<QObject *>(&helper));
}

void tst_KelUbcHost::translatorLabels()
{
    const char *english[] = {"Special function", "Start software", "Open software", "Close software",
                             "Open project", "New project", "Save project", "Close project",
                             "Ribbon toolbar", "Right-click menu", "View panel", "Shortcut key",
                             "Ribbon quick-access bar", "Property"};
    const QStringList chinese{
        QStringLiteral("特殊功能"), QStringLiteral("启动软件"), QStringLiteral("打开软件"),
        QStringLiteral("关闭软件"), QStringLiteral("打开工程"), QStringLiteral("新建工程"),
        QStringLiteral("保存工程"), QStringLiteral("关闭工程"), QStringLiteral("Ribbon工具栏"),
        QStringLiteral("右键"), QStringLiteral("视图面板"), QStringLiteral("快捷键"),
        QStringLiteral("Ribbon快捷栏"), QStringLiteral("属性")};

    // Another translator, asked after ours, answers everything.
    struct Fallback : QTranslator
    {
        QString translate(const char *, const char *, const char *, int) const override
        {
            return QStringLiteral("fallback");
        }
        bool isEmpty() const override { return false; }
    } fallback;
    KelUbcTranslator translator;
    QCOMPARE(translator.language(), KelUbcTranslator::Chinese);
    QVERIFY(QCoreApplication::installTranslator(&fallback));
    QVERIFY(QCoreApplication::installTranslator(&translator));

    const char *unknown = "\xb2\xe2\xca\xd4"; // 测试 in GBK
    for (KelUbcTranslator::Language language : {KelUbcTranslator::Chinese, KelUbcTranslator::English}) {
        translator.setLanguage(language);
        for (int i = 0; i < KelUbcPrivate::LabelCount; ++i) {
            const QString expected = language == KelUbcTranslator::English
                                         ? QString::fromLatin1(english[i]) : chinese[i];
            QCOMPARE(QCoreApplication::translate("KelUbc", KelUbcPrivate::labelSources[i], nullptr, -1),
                     expected);
        }
        QCOMPARE(QCoreApplication::translate("KelUbc", unknown), QStringLiteral("测试"));
        QCOMPARE(QCoreApplication::translate("Other", "Open"), QStringLiteral("fallback"));
        QVERIFY(translator.translate("Other", KelUbcPrivate::labelSources[0]).isNull());
        QVERIFY(translator.translate("KelUbc", nullptr).isNull());
    }
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::removeTranslator(&fallback);
}

QTEST_GUILESS_MAIN(tst_KelUbcHost)
#include "tst_kelubchost.moc"

// The demo's scripted session, end to end: what its two logs must hold.

#include "TestLogs.h"

#include <QtTest/QtTest>

using TestLogs::attrsOf;

namespace {

QString u(const char *text) { return QString::fromUtf8(text); }

struct Run { int exitCode = -1; QString out, err; }; // -1: crashed or hung

Run runScenario(const QString &dir, const QStringList &extra = {})
{
    QProcess demo;
    demo.start(QStringLiteral(UBC_DEMO_PATH), QStringList{QStringLiteral("--scenario"), QStringLiteral("--out"), dir} + extra);
    const bool exited = demo.waitForFinished(60000) && demo.exitStatus() == QProcess::NormalExit;
    return {exited ? demo.exitCode() : -1, QString::fromUtf8(demo.readAllStandardOutput()),
            QString::fromUtf8(demo.readAllStandardError())};
}

} // namespace

class tst_Demo : public QObject
{
    Q_OBJECT

    QString field(int i, const char *key) const { return m_records.value(i).value(QLatin1String(key)).toString(); }

    QTemporaryDir m_dir;
    QList<QJsonObject> m_records, m_events;
    QString m_out;
    qint64 m_elapsedSeconds = 0;

private slots:
    void initTestCase()
    {
        // A log left from an earlier session must not survive into this one.
        QVERIFY(TestLogs::writeFile(m_dir.filePath(QStringLiteral("records.jsonl")), "left over\n"));

        QElapsedTimer clock;
        clock.start();
        const Run run = runScenario(m_dir.path());
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        m_out = run.out;
        m_elapsedSeconds = clock.elapsed() / 1000 + 1;
        m_records = TestLogs::objects(m_dir.filePath(QStringLiteral("records.jsonl")));
        m_events = TestLogs::objects(m_dir.filePath(QStringLiteral("coded-events.jsonl")));
    }

    void recordsFollowTheSession()
    {
        // The scenario's steps, in order, as "fncode fnname fngroup attributes":
        // an action record carries where its command came from, a named event its
        // dictionary attributes. Undo (213036) by Ctrl+Z is never recorded.
        const QStringList expected{
            u("990007 打开软件 特殊功能 "),
            u("990001 启动软件 特殊功能 "),
            u("990003 新建工程 特殊功能 template=标准模板"),
            u("210101 绘制墙 绘图 location=Ribbon工具栏"),
            u("210101 绘制墙 绘图 height=3000;layer=A-WALL;region=一区;thickness=240"),
            u("210202 复制 编辑 location=右键"),
            u("210202 复制 编辑 count=1;layer=A-WALL"),
            u("210302 三维视图 视图 location=视图面板"),
            u("210302 三维视图 视图 mode=轴测"),
            u("213037 重做 编辑 location=Ribbon快捷栏"),
            u("210501 计算工程量 计算 location=快捷键"),
            u("210501 计算工程量 计算 layer=A-WALL;region=一区;rule=清单规则;scope=全部楼层"),
            u("210210 墙1-属性-厚度 null 厚度=200"),
            u("990005 保存工程 特殊功能 "),
            u("990006 关闭工程 特殊功能 "),
            u("990004 打开工程 特殊功能 "),
            u("990006 关闭工程 特殊功能 "),
            u("990002 关闭软件 特殊功能 "),
        };
        QStringList got;
        for (int i = 0; i < m_records.size(); ++i)
            got << QStringList{field(i, "fncode"), field(i, "fnname"), field(i, "fngroup"), attrsOf(m_records[i])}
                       .join(QLatin1Char(' '));
        QCOMPARE(got, expected);
        QCOMPARE(field(0, "pcode"), QStringLiteral("UBCDEMO")); // set before the first record

        // One project throughout: created, saved, closed, reopened, closed; its
        // edits: the wall, the copy, undo, redo, the property.
        const QString projectPath = m_dir.filePath(QStringLiteral("demo.kelprj"));
        QVERIFY(field(2, "prjfullpath") == projectPath && !field(2, "projectid").isEmpty());
        for (int i : {13, 14, 15, 16})
            QCOMPARE(field(i, "projectid"), field(2, "projectid"));
        const QString size = QString::number(QFileInfo(projectPath).size() / 1000);
        for (int i : {13, 14, 16})
            QCOMPARE(field(i, "prjedocnt") + QLatin1Char(' ') + field(i, "prjsize"), QStringLiteral("5 ") + size);

        // Durations in whole seconds, within the run; the application outlives the project.
        for (int i : {14, 16, 17})
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+$")).match(field(i, "duration")).hasMatch(), qPrintable(field(i, "duration")));
        const qint64 app = field(17, "duration").toLongLong();
        QVERIFY(app >= field(14, "duration").toLongLong() + field(16, "duration").toLongLong() && app <= m_elapsedSeconds);
    }

    void codedEventsFollowTheSession()
    {
        // The wall statistic, committed after the two picks with the layer of the
        // moment; the edit count on saving; the quantities statistic, which waits
        // for the project's close (the second close sends nothing).
        QStringList got;
        for (const QJsonObject &event : qAsConst(m_events))
            got << event.value(QStringLiteral("code")).toString() + QLatin1Char(' ') + attrsOf(event);
        const QRegularExpression tjsc(QStringLiteral("tjsc=(\\d+)"));
        const qint64 seconds = tjsc.match(got.value(0)).captured(1).toLongLong();
        QVERIFY2(seconds >= 1 && seconds <= m_elapsedSeconds, qPrintable(got.value(0)));
        QCOMPARE(got.replaceInStrings(tjsc, QStringLiteral("tjsc=*")),
                 (QStringList{QStringLiteral("210101 layer=A-WALL;length=6000;tjsc=*"),
                              QStringLiteral("580101004 layer=A-WALL;prjedocnt=5"), QStringLiteral("210501 elements=2")}));
    }

    void summaryShowsTheFiles()
    {
        auto line = [this](const char *label) {
            return QRegularExpression(QLatin1String(label) + QStringLiteral("[^\n]*")).match(m_out).captured().simplified();
        };
        QVERIFY(m_out.contains(m_dir.filePath(QStringLiteral("records.jsonl")))
                && m_out.contains(m_dir.filePath(QStringLiteral("coded-events.jsonl"))));
        QCOMPARE(line("records:"), QStringLiteral("records: 18"));
        QCOMPARE(line("by location:"), u("by location: Ribbon工具栏 x1, Ribbon快捷栏 x1, 右键 x1, 快捷键 x1, 视图面板 x1"));
        QCOMPARE(line("by group:"), u("by group: null x1, 特殊功能 x8, 绘图 x2, 编辑 x3, 视图 x2, 计算 x2"));
        QCOMPARE(line("by code:"), QStringLiteral("by code: 210101 x1, 210501 x1, 580101004 x1"));
        QVERIFY(line("project:").endsWith(QLatin1String("5 edits")));
    }

    void englishLabels()
    {
        // The same session; KelUbc's own labels (locations, and the names and
        // groups of its 99xxxx records) come out as readable English.
        QTemporaryDir dir;
        QCOMPARE(runScenario(dir.path(), {QStringLiteral("--lang"), QStringLiteral("en")}).exitCode, 0);
        const QList<QJsonObject> records = TestLogs::objects(dir.filePath(QStringLiteral("records.jsonl")));
        QCOMPARE(records.size(), m_records.size());
        for (int i = 0; i < records.size(); ++i) {
            const QJsonObject &r = records.at(i);
            QCOMPARE(r.value(QStringLiteral("fncode")).toString(), field(i, "fncode"));
            QStringList labels;
            if (attrsOf(m_records[i]).startsWith(QLatin1String("location=")))
                labels << attrsOf(r).mid(9);
            if (field(i, "fncode").startsWith(QLatin1String("99")))
                labels << r.value(QStringLiteral("fnname")).toString() << r.value(QStringLiteral("fngroup")).toString();
            QVERIFY2(labels.filter(QRegularExpression(QStringLiteral("^[\\x20-\\x7e]+$"))) == labels, qPrintable(labels.join('|')));
        }
    }

    void badArguments()
    {
        QTemporaryDir dir;
        const Run run = runScenario(dir.path(), {QStringLiteral("--lang"), QStringLiteral("fr")});
        QVERIFY(run.exitCode == 2 && run.err.contains(QLatin1String("--lang")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("records.jsonl"))));
    }
};

QTEST_GUILESS_MAIN(tst_Demo)
#include "tst_demo.moc"

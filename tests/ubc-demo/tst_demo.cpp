// The demo's scripted session, end to end: what its two logs must hold.

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

using Attrs = QMap<QString, QString>;

namespace {

struct Expected
{
    QString fncode;
    QString fnname;
    QString fngroup;
    Attrs attrs;
};

QString u(const char *text) { return QString::fromUtf8(text); }

Attrs attrsOf(const QJsonObject &object)
{
    Attrs attrs;
    const QJsonObject o = object.value(QStringLiteral("attrs")).toObject();
    for (auto it = o.begin(); it != o.end(); ++it)
        attrs.insert(it.key(), it.value().toString());
    return attrs;
}

} // namespace

class tst_Demo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsFollowTheSession();
    void codedEventsFollowTheSession();
    void summaryShowsTheFiles();
    void englishLabels();
    void badArguments();

private:
    bool runScenario(const QString &dir, const QStringList &extra, QString *out);
    QList<QJsonObject> readJsonLines(const QString &path);
    qint64 seconds(const QJsonValue &value);

    QTemporaryDir m_dir;
    QList<QJsonObject> m_records;
    QList<QJsonObject> m_events;
    QString m_out;
    qint64 m_elapsedSeconds = 0;
};

bool tst_Demo::runScenario(const QString &dir, const QStringList &extra, QString *out)
{
    QProcess demo;
    demo.start(QStringLiteral(UBC_DEMO_PATH),
               QStringList{QStringLiteral("--scenario"), QStringLiteral("--out"), dir} + extra);
    if (!demo.waitForFinished(60000)) {
        qWarning("the scenario did not finish within a minute");
        return false;
    }
    *out = QString::fromUtf8(demo.readAllStandardOutput());
    if (demo.exitStatus() != QProcess::NormalExit || demo.exitCode() != 0) {
        qWarning("%s%s", qPrintable(*out), demo.readAllStandardError().constData());
        return false;
    }
    return true;
}

void tst_Demo::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A log left from an earlier session must not survive into this one.
    QFile stale(m_dir.filePath(QStringLiteral("records.jsonl")));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("left over\n");
    stale.close();

    QElapsedTimer clock;
    clock.start();
    QVERIFY(runScenario(m_dir.path(), {}, &m_out));
    m_elapsedSeconds = clock.elapsed() / 1000 + 1;
    QVERIFY(m_out.contains(m_dir.filePath(QStringLiteral("records.jsonl"))));
    QVERIFY(m_out.contains(m_dir.filePath(QStringLiteral("coded-events.jsonl"))));

    m_records = readJsonLines(m_dir.filePath(QStringLiteral("records.jsonl")));
    m_events = readJsonLines(m_dir.filePath(QStringLiteral("coded-events.jsonl")));
}

QList<QJsonObject> tst_Demo::readJsonLines(const QString &path)
{
    QList<QJsonObject> objects;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read %s", qPrintable(path));
        return objects;
    }
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            qWarning("not a JSON object in %s: %s", qPrintable(path), line.constData());
            return {};
        }
        objects.append(document.object());
    }
    return objects;
}

qint64 tst_Demo::seconds(const QJsonValue &value)
{
    bool ok = false;
    const qint64 s = value.toString().toLongLong(&ok);
    return ok ? s : -1;
}

void tst_Demo::recordsFollowTheSession()
{
    const QString special = u("特殊功能");
    const QString layer = QStringLiteral("A-WALL");
    const QString region = u("一区");
    // The scenario's steps, in order; an action record carries where its
    // command came from, a named event its dictionary attributes.
    const QVector<Expected> expected = {
        {QStringLiteral("990007"), u("打开软件"), special, {}},
        {QStringLiteral("990001"), u("启动软件"), special, {}},
        {QStringLiteral("990003"), u("新建工程"), special, {{u("template"), u("标准模板")}}},
        {QStringLiteral("210101"), u("绘制墙"), u("绘图"), {{u("location"), u("Ribbon工具栏")}}},
        {QStringLiteral("210101"), u("绘制墙"), u("绘图"),
         {{u("thickness"), u("240")}, {u("height"), u("3000")}, {u("layer"), layer}, {u("region"), region}}},
        {QStringLiteral("210202"), u("复制"), u("编辑"), {{u("location"), u("右键")}}},
        {QStringLiteral("210202"), u("复制"), u("编辑"), {{u("count"), u("1")}, {u("layer"), layer}}},
        {QStringLiteral("210302"), u("三维视图"), u("视图"), {{u("location"), u("视图面板")}}},
        {QStringLiteral("210302"), u("三维视图"), u("视图"), {{u("mode"), u("轴测")}}},
        // Undo (213036) by Ctrl+Z is never recorded.
        {QStringLiteral("213037"), u("重做"), u("编辑"), {{u("location"), u("Ribbon快捷栏")}}},
        {QStringLiteral("210501"), u("计算工程量"), u("计算"), {{u("location"), u("快捷键")}}},
        {QStringLiteral("210501"), u("计算工程量"), u("计算"),
         {{u("scope"), u("全部楼层")}, {u("rule"), u("清单规则")}, {u("layer"), layer}, {u("region"), region}}},
        {QStringLiteral("210210"), u("墙1-属性-厚度"), u("null"), {{u("厚度"), u("200")}}},
        {QStringLiteral("990005"), u("保存工程"), special, {}},
        {QStringLiteral("990006"), u("关闭工程"), special, {}},
        {QStringLiteral("990004"), u("打开工程"), special, {}},
        {QStringLiteral("990006"), u("关闭工程"), special, {}},
        {QStringLiteral("990002"), u("关闭软件"), special, {}},
    };
    QCOMPARE(m_records.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject &r = m_records.at(i);
        const QString where = QStringLiteral("record %1 (%2)").arg(i).arg(expected.at(i).fncode);
        QVERIFY2(r.value(QStringLiteral("fncode")).toString() == expected.at(i).fncode, qPrintable(where));
        QVERIFY2(r.value(QStringLiteral("fnname")).toString() == expected.at(i).fnname, qPrintable(where));
        QVERIFY2(r.value(QStringLiteral("fngroup")).toString() == expected.at(i).fngroup, qPrintable(where));
        QVERIFY2(attrsOf(r) == expected.at(i).attrs, qPrintable(where));
        QCOMPARE(r.value(QStringLiteral("pcode")).toString(), QStringLiteral("UBCDEMO"));
    }

    // One project throughout: created, saved, closed, reopened, closed.
    const QString projectId = m_records.at(2).value(QStringLiteral("projectid")).toString();
    QVERIFY(!projectId.isEmpty());
    const QString projectPath = m_dir.filePath(QStringLiteral("demo.kelprj"));
    QCOMPARE(m_records.at(2).value(QStringLiteral("prjfullpath")).toString(), projectPath);
    const QString size = QString::number(QFileInfo(projectPath).size() / 1000);
    for (int i : {13, 14, 15, 16})
        QCOMPARE(m_records.at(i).value(QStringLiteral("projectid")).toString(), projectId);
    // Edits: the wall, the copy, undo, redo, the property.
    for (int i : {13, 14, 16}) {
        QCOMPARE(m_records.at(i).value(QStringLiteral("prjedocnt")).toString(), QStringLiteral("5"));
        QCOMPARE(m_records.at(i).value(QStringLiteral("prjsize")).toString(), size);
    }

    // Durations in whole seconds, within the run; the application outlives the project.
    const qint64 projectOpen = seconds(m_records.at(14).value(QStringLiteral("duration")));
    const qint64 reopened = seconds(m_records.at(16).value(QStringLiteral("duration")));
    const qint64 application = seconds(m_records.at(17).value(QStringLiteral("duration")));
    QVERIFY(projectOpen >= 0 && reopened >= 0 && application >= 0);
    QVERIFY(application <= m_elapsedSeconds);
    QVERIFY(application >= projectOpen + reopened);
}

void tst_Demo::codedEventsFollowTheSession()
{
    QCOMPARE(m_events.size(), 3);
    auto code = [this](int i) { return m_events.at(i).value(QStringLiteral("code")).toVariant().toULongLong(); };

    // The wall statistic: committed after the two picks, with the layer of the moment.
    QCOMPARE(code(0), 210101ull);
    Attrs wall = attrsOf(m_events.at(0));
    const qint64 tjsc = seconds(wall.take(QStringLiteral("tjsc")));
    QVERIFY2(tjsc >= 1 && tjsc <= m_elapsedSeconds, qPrintable(QString::number(tjsc)));
    QCOMPARE(wall, (Attrs{{u("layer"), u("A-WALL")}, {u("length"), u("6000")}}));

    QCOMPARE(code(1), 580101004ull);
    QCOMPARE(attrsOf(m_events.at(1)), (Attrs{{u("layer"), u("A-WALL")}, {u("prjedocnt"), u("5")}}));

    // The quantities statistic waits for the project's close; the second close sends nothing.
    QCOMPARE(code(2), 210501ull);
    QCOMPARE(attrsOf(m_events.at(2)), (Attrs{{u("elements"), u("2")}}));
}

void tst_Demo::summaryShowsTheFiles()
{
    auto line = [this](const char *label) {
        const int at = m_out.indexOf(QLatin1String(label));
        return at < 0 ? QString() : m_out.mid(at, m_out.indexOf(QLatin1Char('\n'), at) - at).simplified();
    };
    QCOMPARE(line("records:"), QStringLiteral("records: 18"));
    QCOMPARE(line("by location:"), u("by location: Ribbon工具栏 x1, Ribbon快捷栏 x1, 右键 x1, 快捷键 x1, 视图面板 x1"));
    QCOMPARE(line("by group:"), u("by group: null x1, 特殊功能 x8, 绘图 x2, 编辑 x3, 视图 x2, 计算 x2"));
    QCOMPARE(line("by code:"), QStringLiteral("by code: 210101 x1, 210501 x1, 580101004 x1"));
    QVERIFY(line("project:").endsWith(QLatin1String("5 edits")));
}

void tst_Demo::englishLabels()
{
    QTemporaryDir dir;
    QString out;
    QVERIFY(runScenario(dir.path(), {QStringLiteral("--lang"), QStringLiteral("en")}, &out));
    const QList<QJsonObject> records = readJsonLines(dir.filePath(QStringLiteral("records.jsonl")));
    QCOMPARE(records.size(), m_records.size());
    auto readable = [](const QString &text) {
        if (text.isEmpty())
            return false;
        for (const QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7e)
                return false;
        }
        return true;
    };
    // The same session; KelUbc's own labels come out as readable English.
    for (int i = 0; i < records.size(); ++i) {
        const QJsonObject &r = records.at(i);
        QCOMPARE(r.value(QStringLiteral("fncode")), m_records.at(i).value(QStringLiteral("fncode")));
        const QString location = attrsOf(r).value(QStringLiteral("location"));
        if (attrsOf(m_records.at(i)).contains(QStringLiteral("location")))
            QVERIFY2(readable(location), qPrintable(location));
        if (r.value(QStringLiteral("fncode")).toString().startsWith(QLatin1String("99"))) {
            QVERIFY2(readable(r.value(QStringLiteral("fnname")).toString()), qPrintable(QString::number(i)));
            QVERIFY(readable(r.value(QStringLiteral("fngroup")).toString()));
        }
    }
}

void tst_Demo::badArguments()
{
    QTemporaryDir dir;
    QProcess demo;
    demo.start(QStringLiteral(UBC_DEMO_PATH),
               {QStringLiteral("--scenario"), QStringLiteral("--lang"), QStringLiteral("fr"),
                QStringLiteral("--out"), dir.path()});
    QVERIFY(demo.waitForFinished(30000));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 2);
    QVERIFY(demo.readAllStandardError().contains("--lang"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("records.jsonl"))));
}

QTEST_GUILESS_MAIN(tst_Demo)
#include "tst_demo.moc"

// The function dictionary, events named by text codes, executed actions and
// property edits, against a real SQLite dictionary beside the executable and
// the recording behaviour log.

#include "KelUbcPrivate.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

using Attrs = QMap<QString, QString>;

namespace {
// Debug lines are kept; info lines join the behaviour log's call list, so
// their place among the calls into it shows.
QStringList g_debugLines;
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg)
        g_debugLines << text;
    else if (type == QtInfoMsg)
        RecordingLog::calls() << QStringLiteral("info:%1:%2:%3:%4").arg(QString::fromUtf8(context.file))
                                     .arg(context.line).arg(QString::fromUtf8(context.function), text);
}

// The calls of one logged record whose name is fnname.
QStringList logged(const QString &fnname)
{
    return {QStringLiteral("init"), QStringLiteral("filter:15"), QStringLiteral("log"), QStringLiteral("filter:0"),
            QStringLiteral("info:src/KelUbc/KelUbc:302:KelUbcPrivate::writeLog:\"%1\"").arg(fnname)};
}

KelUbc *ubc() { return KelUbc::instance(); }
KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
UbcDataProtocol lastRecord() { return RecordingLog::records().constLast(); }

const QString Ribbon = QStringLiteral("Ribbon工具栏");
} // namespace

class tst_NamedEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dictionary();
    void attributePairing();
    void layerAndRegion();
    void locationAndCallOrder();
    void actions();
    void propertyEdits();

private:
    void exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("writer")));
        QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }

    RecordingTranslator translator;
};

void tst_NamedEvents::initTestCase()
{
    qInstallMessageHandler(recordMessage);
    QCoreApplication::installTranslator(&translator);
    translator.overrides.insert(QStringLiteral("快捷键"), QStringLiteral("Shortcut"));
    translator.overrides.insert(QStringLiteral("属性"), QStringLiteral("Prop"));

    // Columns out of the usual order, an extra one the library must ignore.
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
    QFile::remove(path);
    QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
    writer.setDatabaseName(path);
    QVERIFY(writer.open());
    exec(QStringLiteral("create table FuncDict (fnAddRegion integer, note text, fnAttrName text,"
                        " fnGroup text, fncode text, fnAddLayer integer, fnName text)"));
    exec(QStringLiteral(
        "insert into FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion, note) values"
        " ('K1', 'Known', 'Edit', 'x', 1, 0, 'n'), ('NUL', 'Nulls', NULL, NULL, NULL, NULL, NULL),"
        " ('', 'EmptyCode', 'G', '', 0, 0, ''), ('XYZ', 'Pairs', 'G', 'x;y;z', 0, 0, ''),"
        " ('DUP', 'Dups', 'G', 'x;;x', 0, 0, ''), ('LR', 'LayerRegion', 'G', 'layer;region', 1, 1, ''),"
        " ('NONAME', '', 'G', '', 1, 1, ''), ('213036', 'Skipped', 'G', '', 0, 0, '')"));
    QVERIFY(ubc());
    QVERIFY(d()->m_db.isOpen());
}

void tst_NamedEvents::init()
{
    RecordingLog::reset();
    g_debugLines.clear();
    d()->m_layer = QStringLiteral("L1");
    d()->m_region = QLatin1String("");
}

void tst_NamedEvents::dictionary()
{
    // A known code is read once: a changed row is not seen again.
    ubc()->send(QStringLiteral("K1"));
    exec(QStringLiteral("update FuncDict set fnName = 'Renamed', fnGroup = 'Other' where fncode = 'K1'"));
    ubc()->send(QStringLiteral("K1"), QStringLiteral("v"));
    QCOMPARE(RecordingLog::records().size(), 2);
    QCOMPARE(lastRecord().fnname + lastRecord().fngroup, QStringLiteral("KnownEdit"));
    QVERIFY(g_debugLines.isEmpty());

    // A missing code is asked for on every use, one debug line each, and
    // found once its row exists. Case and blanks make other codes.
    const QStringList missing{QStringLiteral("NEW"), QStringLiteral("NEW"), QStringLiteral("k1"),
                              QStringLiteral(" K1"), QStringLiteral("K1 ")};
    for (const QString &code : missing)
        ubc()->send(code);
    QString emptyError;
    QDebug(&emptyError) << QSqlError();
    QCOMPARE(g_debugLines.size(), missing.size());
    QCOMPARE(g_debugLines.count(emptyError.trimmed()), missing.size());
    QCOMPARE(RecordingLog::records().size(), 2);
    exec(QStringLiteral("insert into FuncDict (fncode, fnName, fnGroup) values ('NEW', 'Added', 'G')"));
    ubc()->send(QStringLiteral("NEW"));
    QCOMPARE(lastRecord().fnname, QStringLiteral("Added"));

    // Columns by name; NULL reads as empty or false, and the group is logged as "null".
    ubc()->send(QStringLiteral("LR"));
    ubc()->send(QStringLiteral("NUL"));
    auto entry = [](const char *code) {
        const FuncDictEntry e = d()->m_funcDict.value(QLatin1String(code));
        return QStringList{e.fnName, e.fnGroup, e.fnAttrName, QString::number(e.fnAddLayer),
                           QString::number(e.fnAddRegion)}.join(QLatin1Char('|'));
    };
    QCOMPARE(entry("LR"), QStringLiteral("LayerRegion|G|layer;region|1|1"));
    QCOMPARE(entry("K1"), QStringLiteral("Known|Edit|x|1|0"));
    QCOMPARE(entry("NUL"), QStringLiteral("Nulls|||0|0"));
    QCOMPARE(lastRecord().fngroup, QStringLiteral("null"));
    QVERIFY(lastRecord().attrs.isEmpty());

    // A null code is asked for as the empty text: its row is found, though a
    // record without a code is never logged.
    RecordingLog::reset();
    ubc()->send(QString());
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
}

void tst_NamedEvents::attributePairing()
{
    auto attrsOf = [](const QString &code, const QStringList &values) {
        ubc()->send(code, values);
        return lastRecord().attrs;
    };
    const QString one = QStringLiteral("1"), two = QStringLiteral("2"), three = QStringLiteral("3");
    const QString x = QStringLiteral("x"), y = QStringLiteral("y"), z = QStringLiteral("z");

    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {one, two}), (Attrs{{x, one}, {y, two}}));
    QCOMPARE(attrsOf(QStringLiteral("XYZ"), {one, two, three, QStringLiteral("4")}),
             (Attrs{{x, one}, {y, two}, {z, three}}));
    // Empty parts are names; a later equal name wins.
    QCOMPARE(attrsOf(QStringLiteral("DUP"), {one, two, three}), (Attrs{{x, three}, {QString(), two}}));
    // No names at all still make one empty name.
    ubc()->send(QStringLiteral("NUL"), one);
    QCOMPARE(lastRecord().attrs, (Attrs{{QString(), one}}));

    // The map variant takes the caller's map as it is.
    const Attrs given{{QStringLiteral("q"), one}, {x, two}};
    ubc()->send(QStringLiteral("XYZ"), given);
    QCOMPARE(lastRecord().attrs, given);
    QCOMPARE(lastRecord().fncode + lastRecord().fngroup, QStringLiteral("XYZG"));
}

void tst_NamedEvents::layerAndRegion()
{
    const QString layer = QStringLiteral("layer"), region = QStringLiteral("region");
    const QString upper = QStringLiteral("Layer"), mine = QStringLiteral("mine");

    // A caller's own value wins, even an empty one; "Layer" is another key.
    // The current region is added even when empty.
    ubc()->send(QStringLiteral("LR"), Attrs{{layer, QString()}, {upper, mine}});
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QString()}, {upper, mine}, {region, QString()}}));
    d()->m_region = QStringLiteral("R1");
    ubc()->send(QStringLiteral("LR"));
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, QStringLiteral("L1")}, {region, QStringLiteral("R1")}}));
    ubc()->send(QStringLiteral("LR"), QStringList{mine, QStringLiteral("here")});
    QCOMPARE(lastRecord().attrs, (Attrs{{layer, mine}, {region, QStringLiteral("here")}}));

    // Not asked: nothing added, whatever the current texts are.
    ubc()->send(QStringLiteral("XYZ"));
    QVERIFY(lastRecord().attrs.isEmpty());
}

void tst_NamedEvents::locationAndCallOrder()
{
    // A code the dictionary lacks: nothing reaches the log, the label stays.
    d()->m_location = Ribbon;
    ubc()->send(QStringLiteral("ABSENT"), QStringList{QStringLiteral("v")});
    ubc()->send(QStringLiteral("ABSENT"), Attrs{{QStringLiteral("k"), QStringLiteral("v")}});
    QVERIFY(RecordingLog::calls().isEmpty());
    QCOMPARE(d()->m_location, Ribbon);

    // A row with no name: initialised, not logged, the label consumed.
    ubc()->send(QStringLiteral("NONAME"));
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    QVERIFY(d()->m_location.isEmpty());

    d()->m_location = Ribbon;
    RecordingLog::reset();
    ubc()->send(QStringLiteral("XYZ"), QStringLiteral("v"));
    QCOMPARE(RecordingLog::calls(), logged(QStringLiteral("Pairs")));
    QVERIFY(d()->m_location.isEmpty());
    QVERIFY(!lastRecord().attrs.contains(QStringLiteral("location")));
}

void tst_NamedEvents::actions()
{
    const QString location = QStringLiteral("location");
    // Only the row's group counts; its name, attributes, layer and region do not.
    d()->m_location = Ribbon;
    ubc()->sendActionExecute(QStringLiteral("LR"), QStringLiteral("Line"), false);
    QCOMPARE(RecordingLog::calls(), logged(QStringLiteral("Line")));
    QCOMPARE(lastRecord().fncode + lastRecord().fnname + lastRecord().fngroup, QStringLiteral("LRLineG"));
    QCOMPARE(lastRecord().attrs, (Attrs{{location, Ribbon}}));
    QVERIFY(d()->m_location.isEmpty());
    // No label since: the attribute is there, empty.
    ubc()->sendActionExecute(QStringLiteral("LR"), QStringLiteral("Line"), false);
    QCOMPARE(lastRecord().attrs, (Attrs{{location, QString()}}));
    // A shortcut wins over the label, which is consumed all the same.
    d()->m_location = Ribbon;
    ubc()->sendActionExecute(QStringLiteral("LR"), QStringLiteral("Line"), true);
    QCOMPARE(lastRecord().attrs, (Attrs{{location, QStringLiteral("Shortcut")}}));
    QVERIFY(d()->m_location.isEmpty());
    // No row, or a row without a group: "null" and the caller's name.
    ubc()->sendActionExecute(QStringLiteral("UNKNOWN"), QStringLiteral("Free"), false);
    QCOMPARE(lastRecord().fnname + lastRecord().fngroup, QStringLiteral("Freenull"));
    ubc()->sendActionExecute(QStringLiteral("NUL"), QStringLiteral("Bare"), false);
    QCOMPARE(lastRecord().fnname + lastRecord().fngroup, QStringLiteral("Barenull"));

    // An empty or the skipped code: nothing at all, the label kept.
    RecordingLog::reset();
    d()->m_location = Ribbon;
    ubc()->sendActionExecute(QString(), QStringLiteral("Line"), true);
    ubc()->sendActionExecute(QStringLiteral("213036"), QStringLiteral("Line"), false);
    ubc()->sendElementPropValueModified(QLatin1String(""), QStringLiteral("p"), QStringLiteral("e"),
                                        QStringLiteral("v"));
    QVERIFY(RecordingLog::calls().isEmpty());
    QCOMPARE(d()->m_location, Ribbon);
    QVERIFY(!d()->m_funcDict.contains(QStringLiteral("213036")));
    // An empty name: initialised, not logged, the label consumed.
    ubc()->sendActionExecute(QStringLiteral("2130360"), QString(), false);
    QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    QVERIFY(d()->m_location.isEmpty());
}

void tst_NamedEvents::propertyEdits()
{
    // Everything from the first "(" to the last ")" goes, line breaks too.
    const struct { const char *propName, *key; } names[] = {
        {"Width (mm)", "Width "}, {"a(b)c(d)e", "ae"}, {"a(b(c)d)e", "ae"}, {"a(b)c)d", "ad"},
        {"h(1\n2)t", "ht"}, {"a(b", "a(b"}, {"a)b", "a)b"}, {")a(", ")a("},
        {"宽度（毫米）", "宽度（毫米）"}, {"(x)", ""}, {"", ""}};
    for (const auto &n : names) {
        RecordingLog::reset();
        const QString key = QString::fromUtf8(n.key);
        ubc()->sendElementPropValueModified(QStringLiteral("P1"), QString::fromUtf8(n.propName),
                                            QStringLiteral("Wall"), QStringLiteral("42"));
        QCOMPARE(RecordingLog::calls(), logged(QStringLiteral("Wall-Prop-") + key));
        QCOMPARE(lastRecord().attrs, (Attrs{{key, QStringLiteral("42")}}));
    }

    // No dictionary and no location, even when a label is set; the label is consumed.
    d()->m_location = Ribbon;
    ubc()->sendElementPropValueModified(QStringLiteral("LR"), QStringLiteral("Height"), QString(),
                                        QStringLiteral("3"));
    const UbcDataProtocol r = lastRecord();
    QCOMPARE(r.fncode + r.fnname + r.fngroup, QStringLiteral("LR-Prop-Heightnull"));
    QCOMPARE(r.attrs, (Attrs{{QStringLiteral("Height"), QStringLiteral("3")}}));
    QVERIFY(d()->m_location.isEmpty());
}

QTEST_GUILESS_MAIN(tst_NamedEvents)
#include "tst_namedevents.moc"

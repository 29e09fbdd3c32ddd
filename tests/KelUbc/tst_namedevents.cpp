// The function dictionary, events named by text codes, executed actions and
// property edits, against a real SQLite dictionary beside the executable and
// the recording behaviour log.

#include "Facade.h"
#include "RecordingTranslator.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

namespace {
// Debug lines are kept apart; every other line (a record's info line) joins
// the behaviour log's call list, so its place among the calls shows.
QStringList g_debugLines;
void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    (type == QtDebugMsg ? g_debugLines : RecordingLog::calls()) << text;
}

// The calls of one logged record whose name is fnname, its info line last.
QStringList logged(const QString &fnname)
{
    return {QStringLiteral("init"), QStringLiteral("filter:15"), QStringLiteral("log"), QStringLiteral("filter:0"),
            QLatin1Char('"') + fnname + QLatin1Char('"')};
}

// The last record logged as "code|name|group|k=v;...", "|||" when none.
QString last()
{
    const UbcDataProtocol r = RecordingLog::records().value(RecordingLog::records().size() - 1);
    return QStringList{r.fncode, r.fnname, r.fngroup, pairs(r.attrs)}.join(QLatin1Char('|'));
}

// Sends code with "a;b" as a list of values, or "k=v;..." or "" as a map, on
// a cleared log; gives what was logged.
QString sent(const char *code, const char *values)
{
    RecordingLog::reset();
    const QString fncode = QString::fromUtf8(code), text = QString::fromUtf8(values);
    if (text.isEmpty() || text.contains(QLatin1Char('=')))
        ubc()->send(fncode, attrsFrom(text));
    else
        ubc()->send(fncode, text.split(QLatin1Char(';')));
    return last();
}

const QString Ribbon = QStringLiteral("Ribbon快捷栏");
} // namespace

class tst_NamedEvents : public QObject
{
    Q_OBJECT

    RecordingTranslator translator;

    void exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("writer")));
        QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }

private slots:
    void initTestCase()
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
            " ('NONAME', '', 'G', '', 1, 1, ''), ('213036', 'Skipped', 'G', '', 0, 0, ''),"
            " ('ESC', 'say \"hi\"', 'G', '', 0, 0, '')"));
        QVERIFY(ubc());
        ubc()->setCurLayer(QStringLiteral("L1"));
    }

    void init()
    {
        RecordingLog::reset();
        g_debugLines.clear();
        pressQuickBar();
    }

    void dictionary()
    {
        // A missing code is asked for on every use, one debug line with the
        // query's error each, and found once its row exists; until then nothing
        // reaches the log and the label stays. Case and blanks make other codes.
        const QStringList missing = QStringLiteral("NEW,k1, K1,K1 ").split(QLatin1Char(','));
        for (const QString &code : missing) {
            ubc()->send(code);
            ubc()->send(code, code);
        }
        QString emptyError;
        QDebug(&emptyError) << QSqlError();
        QCOMPARE(g_debugLines.size(), 2 * missing.size());
        QCOMPARE(g_debugLines.count(emptyError.trimmed()), 2 * missing.size());
        QVERIFY(RecordingLog::calls().isEmpty());
        QCOMPARE(pendingLocation(), Ribbon);
        exec(QStringLiteral("insert into FuncDict (fncode, fnName, fnGroup) values ('NEW', 'Added', 'G')"));
        QCOMPARE(sent("NEW", ""), QStringLiteral("NEW|Added|G|"));

        // A known code is read once: a changed row is not seen again.
        ubc()->send(QStringLiteral("K1"));
        exec(QStringLiteral("update FuncDict set fnName = 'Renamed', fnGroup = 'Other' where fncode = 'K1'"));
        ubc()->send(QStringLiteral("K1"), QStringLiteral("v"));
        QCOMPARE(last(), QStringLiteral("K1|Known|Edit|layer=L1;x=v"));

        // NULL columns read as empty or false: one empty name, no layer or
        // region, the group logged as "null".
        QCOMPARE(sent("NUL", "1"), QStringLiteral("NUL|Nulls|null|=1"));

        // A null code is asked for as the empty text: its row is found, though a
        // record without a code is never logged.
        RecordingLog::reset();
        ubc()->send(QString());
        QCOMPARE(RecordingLog::calls(), QStringList{QStringLiteral("init")});
    }

    void attributes()
    {
        // Names pair with values up to the shorter list; empty parts are names,
        // a later equal name wins.
        QCOMPARE(sent("XYZ", "1;2"), QStringLiteral("XYZ|Pairs|G|x=1;y=2"));
        QCOMPARE(sent("XYZ", "1;2;3;4"), QStringLiteral("XYZ|Pairs|G|x=1;y=2;z=3"));
        QCOMPARE(sent("DUP", "1;2;3"), QStringLiteral("DUP|Dups|G|=2;x=3"));
        // A caller's own layer or region wins, even an empty one; "Layer" is
        // another key. The current region is added even when empty.
        QCOMPARE(sent("LR", "mine;here"), QStringLiteral("LR|LayerRegion|G|layer=mine;region=here"));
        QCOMPARE(sent("LR", "layer=;Layer=mine"), QStringLiteral("LR|LayerRegion|G|Layer=mine;layer=;region="));
        ubc()->setCurRegion(QStringLiteral("R1"));
        QCOMPARE(sent("LR", ""), QStringLiteral("LR|LayerRegion|G|layer=L1;region=R1"));
        // The map goes as it is; nothing is added where the row does not ask.
        QCOMPARE(sent("XYZ", "q=1;x=2"), QStringLiteral("XYZ|Pairs|G|q=1;x=2"));
        // The label from init() was consumed, never carried; the calls of one record.
        QCOMPARE(RecordingLog::calls(), logged(QStringLiteral("Pairs")));
        QCOMPARE(pendingLocation(), QString());
        // A name that QDebug escapes, first read and then from the cache.
        QString escaped;
        QDebug(&escaped) << QStringLiteral("say \"hi\"");
        for (int i = 0; i < 2; ++i) {
            sent("ESC", "");
            QCOMPARE(RecordingLog::calls().constLast(), escaped.trimmed());
        }
    }

    void locationActionsAndEdits()
    {
        // Nothing at all, the label kept: an empty or the skipped action code, a
        // property edit without a code. Then two records without a name, not
        // logged, yet each consuming the label.
        ubc()->sendActionExecute(QString(), QStringLiteral("Line"), true);
        ubc()->sendActionExecute(QStringLiteral("213036"), QStringLiteral("Line"), false);
        ubc()->sendElementPropValueModified(QLatin1String(""), QStringLiteral("p"), QStringLiteral("e"),
                                            QStringLiteral("v"));
        QCOMPARE(pendingLocation(), Ribbon);
        pressQuickBar();
        ubc()->send(QStringLiteral("NONAME"));
        QCOMPARE(pendingLocation(), QString());
        pressQuickBar();
        ubc()->sendActionExecute(QStringLiteral("2130360"), QString(), false);
        QCOMPARE(pendingLocation(), QString());
        QCOMPARE(RecordingLog::calls(), (QStringList{QStringLiteral("init"), QStringLiteral("init")}));

        // An action carries it, once; a shortcut replaces it. Only the row's
        // group counts, "null" without one.
        pressQuickBar();
        ubc()->sendActionExecute(QStringLiteral("LR"), QStringLiteral("Line"), false);
        QCOMPARE(last(), QStringLiteral("LR|Line|G|location=") + Ribbon);
        pressQuickBar();
        ubc()->sendActionExecute(QStringLiteral("UNKNOWN"), QStringLiteral("Free"), true);
        QCOMPARE(last(), QStringLiteral("UNKNOWN|Free|null|location=Shortcut"));
        ubc()->sendActionExecute(QStringLiteral("NUL"), QStringLiteral("Bare"), false);
        QCOMPARE(last(), QStringLiteral("NUL|Bare|null|location="));

        // Property edits: everything from the first "(" to the last ")" goes,
        // line breaks too. No dictionary, no location; the label is consumed.
        pressQuickBar();
        const char *const names[][2] = {
            {"Width (mm)", "Width "}, {"a(b)c(d)e", "ae"}, {"a(b(c)d)e", "ae"}, {"a(b)c)d", "ad"},
            {"h(1\n2)t", "ht"}, {"a(b", "a(b"}, {"a)b", "a)b"}, {")a(", ")a("},
            {"宽度（毫米）", "宽度（毫米）"}, {"(x)", ""}, {"", ""}};
        for (const auto &n : names) {
            RecordingLog::reset();
            const QString key = QString::fromUtf8(n[1]);
            ubc()->sendElementPropValueModified(QStringLiteral("LR"), QString::fromUtf8(n[0]),
                                                QStringLiteral("Wall"), QStringLiteral("42"));
            QCOMPARE(RecordingLog::calls(), logged(QStringLiteral("Wall-Prop-") + key));
            QCOMPARE(last(), QStringLiteral("LR|Wall-Prop-%1|null|%1=42").arg(key));
        }
        QCOMPARE(pendingLocation(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_NamedEvents)
#include "tst_namedevents.moc"

// ubc-report: a summary of behaviour records from log files or from the
// fleet's ClickHouse, as text, JSON and a self-contained HTML page.
//
// Exit codes: 0 done (malformed lines are skipped and counted), 1 a failure
// at run time (a log, journal, dictionary or the server could not be read,
// an output not written), 2 wrong usage.

#include "ClickHouseRollups.h"
#include "ClickHouseSource.h"
#include "FileSource.h"
#include "HtmlReport.h"
#include "JsonReport.h"
#include "Summary.h"
#include "TextReport.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QRegularExpression>
#include <QtCore/QSaveFile>

#include <cstdio>

namespace {

enum ExitCode { Done = 0, Failure = 1, Usage = 2 };

const char PasswordVariable[] = "UBC_REPORT_PASSWORD";
const int MalformedShown = 20;

void printErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit())
        return true;
    printErr(QStringLiteral("ubc-report: cannot write %1: %2\n").arg(path, f.errorString()));
    return false;
}

// What is wrong with a server URL, empty when nothing. Credentials in a URL
// show in `ps` and in the shell's history, so they are refused outright.
QString urlProblem(const QUrl &url)
{
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) || url.host().isEmpty())
        return QStringLiteral("--clickhouse wants an http(s) URL");
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return QStringLiteral("--clickhouse takes the server's address alone: no user, password or query in it;"
                              " give --user and the password in %1 or --password-file").arg(QLatin1String(PasswordVariable));
    return QString();
}

// The password from --password-file (its first line) or the environment; false when the file cannot be read.
bool password(const QString &file, QString *password, QString *error)
{
    if (file.isEmpty()) {
        *password = qEnvironmentVariable(PasswordVariable);
        return true;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file, f.errorString());
        return false;
    }
    *password = QString::fromUtf8(f.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ubc-report"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Summarises behaviour records from RuvUbc log files (LOG...) or from ClickHouse (--clickhouse URL).\n"
        "Exit codes: 0 done, 1 unreadable input, server error or output not written, 2 wrong usage."));
    parser.addHelpOption();
    const QCommandLineOption html(QStringLiteral("html"), QStringLiteral("Write the HTML report to <file>."), QStringLiteral("file"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Write the summary as JSON to <file>."), QStringLiteral("file"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("First local day (YYYY-MM-DD)."), QStringLiteral("date"));
    const QCommandLineOption until(QStringLiteral("until"), QStringLiteral("Last local day (YYYY-MM-DD)."), QStringLiteral("date"));
    const QCommandLineOption product(QStringLiteral("product"), QStringLiteral("Only records of this pcode."), QStringLiteral("pcode"));
    const QCommandLineOption dict(QStringLiteral("dict"), QStringLiteral("Function dictionary (KelUbc.db): commands never used."), QStringLiteral("db"));
    const QCommandLineOption coded(QStringLiteral("coded"), QStringLiteral("The helper's coded-event journal (repeat for more); with --clickhouse, read instead of the store's coded events."), QStringLiteral("file"));
    const QCommandLineOption clickhouse(QStringLiteral("clickhouse"), QStringLiteral("Read from ClickHouse's HTTP interface at <url> (no credentials in it)."), QStringLiteral("url"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("ClickHouse user (password from %1 or --password-file).").arg(QLatin1String(PasswordVariable)), QStringLiteral("name"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QStringLiteral("Read the ClickHouse password from the first line of <file>."), QStringLiteral("file"));
    const QCommandLineOption table(QStringLiteral("table"), QStringLiteral("ClickHouse table (default ubc.records)."), QStringLiteral("name"), QStringLiteral("ubc.records"));
    const QCommandLineOption lang(QStringLiteral("lang"), QStringLiteral("Language of the HTML report: zh or en (default: that of the records)."), QStringLiteral("zh|en"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No text summary on standard output."));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("Read the records table alone, not its daily roll-ups."));
    const QCommandLineOption rollupSql(QStringLiteral("rollup-sql"),
                                       QStringLiteral("Print the SQL of the roll-ups of --table and exit: for one server, for each server of"
                                                      " the cluster ubc_cluster (on <table>_local), the same replicated, or to fill"
                                                      " them from the records."),
                                       QStringLiteral("server|cluster|replicated|backfill"));
    parser.addOptions({html, json, since, until, product, dict, coded, clickhouse, user, passwordFile, table, lang, quiet, raw, rollupSql});
    parser.addPositionalArgument(QStringLiteral("LOG"), QStringLiteral("Record log files (JSON lines)."), QStringLiteral("[LOG...]"));
    const auto usage = [&](const QString &error) {
        printErr(QStringLiteral("ubc-report: %1\n\n").arg(error) + parser.helpText());
        return Usage;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Done);

    const QStringList logs = parser.positionalArguments();
    const QString sqlKind = parser.value(rollupSql);
    if (parser.isSet(rollupSql)) {
        const QString t = parser.value(table);
        if (!logs.isEmpty() || parser.isSet(clickhouse) || !QStringList{QStringLiteral("server"), QStringLiteral("cluster"),
                                                                         QStringLiteral("replicated"), QStringLiteral("backfill")}.contains(sqlKind))
            return usage(QStringLiteral("--rollup-sql is server, cluster, replicated or backfill, alone"));
        const bool onCluster = sqlKind == QLatin1String("cluster") || sqlKind == QLatin1String("replicated");
        const QString sql = sqlKind == QLatin1String("backfill") ? ClickHouseRollups::backfill(t)
            : onCluster ? ClickHouseRollups::schema(t, t + QStringLiteral("_local"), QStringLiteral("ubc_cluster"),
                                                    sqlKind == QLatin1String("replicated"))
                        : ClickHouseRollups::schema(t);
        std::fputs(sql.toUtf8().constData(), stdout);
        return Done;
    }
    const QRegularExpression dateRe(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QRegularExpression tableRe(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*(\\.[A-Za-z_][A-Za-z0-9_]*)?$"));
    const QUrl url(parser.value(clickhouse), QUrl::StrictMode);
    QString usageError;
    if (logs.isEmpty() == !parser.isSet(clickhouse))
        usageError = QStringLiteral("give either log files or --clickhouse URL");
    for (const QCommandLineOption *o : {&since, &until})
        if (parser.isSet(*o) && !dateRe.match(parser.value(*o)).hasMatch())
            usageError = QStringLiteral("--%1 wants a date YYYY-MM-DD").arg(o->names().first());
    if (parser.isSet(lang) && parser.value(lang) != QLatin1String("zh") && parser.value(lang) != QLatin1String("en"))
        usageError = QStringLiteral("--lang is zh or en");
    if (!tableRe.match(parser.value(table)).hasMatch())
        usageError = QStringLiteral("--table wants a table name, database.table");
    if (parser.isSet(clickhouse) && usageError.isEmpty())
        usageError = urlProblem(url);
    if (!usageError.isEmpty())
        return usage(usageError);

    Summary::Options options;
    options.filter.since = parser.value(since).toStdString();
    options.filter.until = parser.value(until).toStdString();
    options.filter.byProduct = parser.isSet(product);
    options.filter.product = parser.value(product).toStdString();
    options.dictionary = parser.value(dict);
    options.language = parser.value(lang);

    int64_t reported = 0;
    FileSource files(options.filter, [&](const QString &file, int64_t line, const char *why) {
        if (++reported <= MalformedShown)
            printErr(QStringLiteral("%1:%2: malformed line skipped: %3\n").arg(file, QString::number(line), QLatin1String(why)));
    });
    UbcReport::Aggregates aggregates;
    Summary::Input input;
    if (parser.isSet(clickhouse)) {
        ClickHouseSource::Server server{url, parser.value(user), QString(), parser.value(table), !parser.isSet(raw)};
        QString error;
        if (!password(parser.value(passwordFile), &server.password, &error)) {
            printErr(QStringLiteral("ubc-report: %1\n").arg(error));
            return Failure;
        }
        ClickHouseSource source(server, options.filter);
        if (!source.read(&aggregates)) {
            printErr(QStringLiteral("ubc-report: %1\n").arg(source.errorString()));
            return Failure;
        }
        input.fromServer = true;
        input.url = url.toDisplayString();
        input.table = server.table;
    } else if (!files.readLogs(logs) || !files.readTimeline()) {
        printErr(QStringLiteral("ubc-report: cannot read %1\n").arg(files.errorString()));
        return Failure;
    }
    if (!files.readCoded(parser.values(coded))) {
        printErr(QStringLiteral("ubc-report: cannot read %1\n").arg(files.errorString()));
        return Failure;
    }
    const FileSource::Stats st = files.stats();
    if (!parser.isSet(clickhouse)) {
        aggregates = files.aggregates();
        input.files = logs;
        input.lines = st.lines;
        input.malformed = st.malformed;
        input.duplicates = st.duplicates;
        input.filtered = st.filtered;
    } else if (parser.isSet(coded)) {
        // Journals named here stand in for the store's coded events.
        const UbcReport::Aggregates fromFiles = files.aggregates();
        aggregates.coded = fromFiles.coded;
        aggregates.saves = fromFiles.saves;
        aggregates.idleReturns = fromFiles.idleReturns;
    }
    input.codedFiles = parser.values(coded);
    input.codedMalformed = st.codedMalformed;
    if (reported > MalformedShown)
        printErr(QStringLiteral("... %1 more malformed lines\n").arg(reported - MalformedShown));

    Summary summary;
    QString error;
    if (!Summary::build(aggregates, options, &summary, &error)) {
        printErr(QStringLiteral("ubc-report: %1\n").arg(error));
        return Failure;
    }
    summary.input = input;

    if (!parser.isSet(quiet))
        std::fputs(TextReport::render(summary).toUtf8().constData(), stdout);
    if (parser.isSet(json) && !writeFile(parser.value(json), JsonReport::render(summary)))
        return Failure;
    if (parser.isSet(html) && !writeFile(parser.value(html), HtmlReport::render(summary).toUtf8()))
        return Failure;
    return Done;
}

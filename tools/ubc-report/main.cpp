// ubc-report: a summary of behaviour records from log files or from the
// fleet's ClickHouse, as text, JSON and a self-contained HTML page.
//
// Exit codes: 0 done (malformed lines are skipped and counted), 1 wrong usage,
// 2 an input could not be read (file, dictionary or server), 3 an output could
// not be written.

#include "ClickHouseSource.h"
#include "FileSource.h"
#include "HtmlReport.h"
#include "JsonReport.h"
#include "Summary.h"
#include "TextReport.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QRegularExpression>
#include <QtCore/QSaveFile>

#include <cstdio>

namespace {

enum ExitCode { Done = 0, Usage = 1, InputError = 2, OutputError = 3 };

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

const int MalformedShown = 20;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ubc-report"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Summarises behaviour records from RuvUbc log files (LOG...) or from ClickHouse (--clickhouse URL).\n"
        "Exit codes: 0 done, 1 usage, 2 unreadable input or server error, 3 output not written."));
    parser.addHelpOption();
    const QCommandLineOption html(QStringLiteral("html"), QStringLiteral("Write the HTML report to <file>."), QStringLiteral("file"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Write the summary as JSON to <file>."), QStringLiteral("file"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("First local day (YYYY-MM-DD)."), QStringLiteral("date"));
    const QCommandLineOption until(QStringLiteral("until"), QStringLiteral("Last local day (YYYY-MM-DD)."), QStringLiteral("date"));
    const QCommandLineOption product(QStringLiteral("product"), QStringLiteral("Only records of this pcode."), QStringLiteral("pcode"));
    const QCommandLineOption dict(QStringLiteral("dict"), QStringLiteral("Function dictionary (KelUbc.db): commands never used."), QStringLiteral("db"));
    const QCommandLineOption coded(QStringLiteral("coded"), QStringLiteral("The helper's coded-event journal (repeat for more)."), QStringLiteral("file"));
    const QCommandLineOption clickhouse(QStringLiteral("clickhouse"), QStringLiteral("Read from ClickHouse's HTTP interface at <url>."), QStringLiteral("url"));
    const QCommandLineOption table(QStringLiteral("table"), QStringLiteral("ClickHouse table (default ubc.records)."), QStringLiteral("name"), QStringLiteral("ubc.records"));
    const QCommandLineOption lang(QStringLiteral("lang"), QStringLiteral("Language of the HTML report: zh or en (default: that of the records)."), QStringLiteral("zh|en"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No text summary on standard output."));
    parser.addOptions({html, json, since, until, product, dict, coded, clickhouse, table, lang, quiet});
    parser.addPositionalArgument(QStringLiteral("LOG"), QStringLiteral("Record log files (JSON lines)."), QStringLiteral("[LOG...]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        printErr(QStringLiteral("ubc-report: %1\n").arg(parser.errorText()));
        return Usage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Done);

    const QStringList logs = parser.positionalArguments();
    const QRegularExpression dateRe(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    QString usageError;
    if (logs.isEmpty() == !parser.isSet(clickhouse))
        usageError = QStringLiteral("give either log files or --clickhouse URL");
    for (const QCommandLineOption *o : {&since, &until})
        if (parser.isSet(*o) && !dateRe.match(parser.value(*o)).hasMatch())
            usageError = QStringLiteral("--%1 wants a date YYYY-MM-DD").arg(o->names().first());
    if (parser.isSet(lang) && parser.value(lang) != QLatin1String("zh") && parser.value(lang) != QLatin1String("en"))
        usageError = QStringLiteral("--lang is zh or en");
    if (!usageError.isEmpty()) {
        printErr(QStringLiteral("ubc-report: %1 (see --help)\n").arg(usageError));
        return Usage;
    }

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
            printErr(QStringLiteral("%1:%2: malformed line skipped: %3\n").arg(file).arg(line).arg(QLatin1String(why)));
    });
    UbcReport::Aggregates aggregates;
    Summary::Input input;
    if (parser.isSet(clickhouse)) {
        ClickHouseSource server(QUrl(parser.value(clickhouse)), parser.value(table), options.filter);
        if (!server.read(&aggregates)) {
            printErr(QStringLiteral("ubc-report: %1\n").arg(server.errorString()));
            return InputError;
        }
        input.fromServer = true;
        input.url = server.displayUrl();
        input.table = parser.value(table);
    } else if (!files.readLogs(logs) || !files.readTimeline()) {
        printErr(QStringLiteral("ubc-report: cannot read %1\n").arg(files.errorString()));
        return InputError;
    }
    if (!files.readCoded(parser.values(coded))) {
        printErr(QStringLiteral("ubc-report: cannot read %1\n").arg(files.errorString()));
        return InputError;
    }
    const FileSource::Stats st = files.stats();
    if (!parser.isSet(clickhouse)) {
        aggregates = files.aggregates();
        input.files = logs;
        input.lines = st.lines;
        input.malformed = st.malformed;
        input.duplicates = st.duplicates;
        input.filtered = st.filtered;
    } else {
        // The journals are the desktop's own files, whichever source gave the records.
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
        return InputError;
    }
    summary.input = input;

    if (!parser.isSet(quiet))
        std::fputs(TextReport::render(summary).toUtf8().constData(), stdout);
    if (parser.isSet(json) && !writeFile(parser.value(json), JsonReport::render(summary)))
        return OutputError;
    if (parser.isSet(html) && !writeFile(parser.value(html), HtmlReport::render(summary).toUtf8()))
        return OutputError;
    return Done;
}

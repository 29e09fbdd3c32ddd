#include "UbcDictCommand.h"

#include "DictionaryChecker.h"
#include "DictionaryCsv.h"
#include "DictionaryFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

namespace {

const char Usage[] =
    "usage: ubc-dict build DICT.csv KelUbc.db\n"
    "       ubc-dict check FILE.db|FILE.csv\n"
    "       ubc-dict show KelUbc.db CODE\n"
    "       ubc-dict dump KelUbc.db [-o FILE.csv]\n";

const char Help[] =
    "Maintains the function dictionary KelUbc.db (table FuncDict) that KelUbc\n"
    "reads from its host's executable directory.\n"
    "\n"
    "Commands:\n"
    "  build DICT.csv KelUbc.db\n"
    "      Makes the database from a CSV file. The database is written to a\n"
    "      temporary file beside the target and renamed over it only when\n"
    "      complete; on any failure the target is left as it was.\n"
    "      Refused (exit 1): an empty or duplicate fncode, a flag other than 0\n"
    "      or 1. Accepted with a warning: the other findings of check.\n"
    "  check FILE\n"
    "      Reports, with the CSV line or the database row of each: duplicate\n"
    "      codes, empty codes or names, codes with blanks around them, flags\n"
    "      other than 0 or 1, attribute lists with an empty name in them,\n"
    "      NUL characters in a database value (a CSV file cannot hold them).\n"
    "      FILE is a SQLite database or a .csv file.\n"
    "  show KelUbc.db CODE\n"
    "      Prints CODE's entry as the library reads it: attribute names split\n"
    "      at \";\" with every name quoted, flags as yes/no.\n"
    "  dump KelUbc.db [-o FILE]\n"
    "      Writes the table as CSV in canonical form to stdout or FILE.\n"
    "\n"
    "CSV format: UTF-8 without NUL bytes (a BOM is ignored), RFC 4180 quoting,\n"
    "LF or CRLF line ends, empty lines ignored. The header row names the six\n"
    "columns fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion in\n"
    "any order.\n"
    "fnAttrName lists attribute names separated by \";\". The flags are 0 or 1.\n"
    "An empty field is stored as NULL, a quoted empty field (\"\") as empty\n"
    "text; the library reads both as empty. Canonical form (what dump writes):\n"
    "the header in the order above, LF line ends, no BOM, quotes only where a\n"
    "field holds a comma, quote or line break, or is empty text.\n"
    "\n"
    "Exit codes: 0 success; 1 findings (check), refused rows (build), code\n"
    "not found (show), unreadable input, output not written; 2 usage error.\n";

struct Arguments
{
    QString command;
    QStringList positional;
    QString output;
    QString error;
    bool help = false;
};

// The first of the options named names as the user spelled it ("-o",
// "--output", "-bogus"), without a value after "=".
QString spelled(const QStringList &args, const QStringList &names)
{
    static const QRegularExpression option(QStringLiteral("^--?([^=]+)"));
    for (const QString &arg : args) {
        const QRegularExpressionMatch m = option.match(arg);
        if (m.hasMatch() && names.contains(m.captured(1)))
            return arg.section(QLatin1Char('='), 0, 0);
    }
    return QLatin1Char('-') + names.first();
}

// arguments: program first. "-word" is the long option "word", not -w -o -r -d.
Arguments parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("FILE"));
    parser.addOption(help);
    parser.addOption(output);
    const bool parsed = parser.parse(arguments);
    const QStringList args = arguments.mid(1);
    Arguments result;
    result.help = parser.isSet(help);
    if (result.help)
        return result;
    const QStringList unknown = parser.unknownOptionNames();
    if (!parsed && !unknown.isEmpty()) {
        result.error = QStringLiteral("unknown option %1").arg(spelled(args, unknown.mid(0, 1)));
        return result;
    }
    const QString outputSpelled = spelled(args, output.names());
    if (!parsed || parser.values(output).size() > 1) { // the only other failure: a missing value
        result.error = QStringLiteral("%1 needs one file name").arg(outputSpelled);
        return result;
    }
    result.positional = parser.positionalArguments();
    if (result.positional.isEmpty()) {
        result.error = QStringLiteral("no command given");
        return result;
    }
    result.command = result.positional.takeFirst();
    if (parser.isSet(output)) {
        if (result.command != QLatin1String("dump"))
            result.error = QStringLiteral("unknown option %1").arg(outputSpelled);
        result.output = parser.value(output);
    }
    return result;
}

} // namespace

class UbcDictCommandPrivate
{
public:
    // UTF-8 whatever the locale's code page: the same bytes as the CSV dump.
    void print(QIODevice *device, const QString &text) { device->write(text.toUtf8()); }
    int usageError(const QString &message)
    {
        print(err, QStringLiteral("ubc-dict: %1\n%2Try 'ubc-dict --help'.\n").arg(message, QLatin1String(Usage)));
        return UbcDictCommand::UsageError;
    }
    int fileError(const QString &file, const QString &message)
    {
        print(err, QStringLiteral("ubc-dict: %1: %2\n").arg(QDir::toNativeSeparators(file), message));
        return UbcDictCommand::Failure;
    }

    bool readCsv(const QString &file, QVector<DictRow> *rows);
    bool readRows(const QString &file, QVector<DictRow> *rows);
    QString where(const QString &file, const DictRow &row) const;
    void report(QIODevice *device, const QString &file, const QVector<DictRow> &rows,
                const QVector<DictionaryChecker::Finding> &findings, bool errorsOnly);

    int build(const QString &csv, const QString &db);
    int check(const QString &file);
    int show(const QString &db, const QString &code);
    int dump(const QString &db, const QString &output);

    QIODevice *out = nullptr;
    QIODevice *err = nullptr;
};

bool UbcDictCommandPrivate::readCsv(const QString &file, QVector<DictRow> *rows)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        fileError(file, QStringLiteral("cannot open: %1").arg(input.errorString()));
        return false;
    }
    DictionaryCsv::Error error;
    if (!DictionaryCsv::read(input.readAll(), rows, &error)) {
        print(err, QStringLiteral("%1:%2: error: %3\n").arg(QDir::toNativeSeparators(file)).arg(error.line).arg(error.message));
        return false;
    }
    return true;
}

bool UbcDictCommandPrivate::readRows(const QString &file, QVector<DictRow> *rows)
{
    if (!QFileInfo::exists(file)) {
        fileError(file, QStringLiteral("no such file"));
        return false;
    }
    if (DictionaryFile::isDatabase(file)) {
        DictionaryFile db(file);
        if (!db.read(rows)) {
            fileError(file, db.errorString());
            return false;
        }
        return true;
    }
    if (QFileInfo(file).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) != 0) {
        fileError(file, QStringLiteral("neither a SQLite database nor a .csv file"));
        return false;
    }
    return readCsv(file, rows);
}

QString UbcDictCommandPrivate::where(const QString &file, const DictRow &row) const
{
    const QString name = QDir::toNativeSeparators(file);
    if (row.line > 0)
        return QStringLiteral("%1:%2").arg(name).arg(row.line);
    return QStringLiteral("%1: row %2 (fncode \"%3\")").arg(name).arg(row.rowId).arg(row.values[DictRow::Code]);
}

void UbcDictCommandPrivate::report(QIODevice *device, const QString &file, const QVector<DictRow> &rows,
                                   const QVector<DictionaryChecker::Finding> &findings, bool errorsOnly)
{
    QString text;
    for (const DictionaryChecker::Finding &f : findings) {
        const bool isError = f.severity == DictionaryChecker::Finding::Error;
        if (errorsOnly == isError)
            text += QStringLiteral("%1: %2: %3\n")
                        .arg(where(file, rows.at(f.row)), isError ? QLatin1String("error") : QLatin1String("warning"),
                             f.message);
    }
    text.replace(QChar(0), QLatin1String("\\0")); // a code or value quoted in a message stays printable
    print(device, text);
}

int UbcDictCommandPrivate::build(const QString &csv, const QString &db)
{
    const QFileInfo source(csv);
    if (source.exists() && source.canonicalFilePath() == QFileInfo(db).canonicalFilePath())
        return usageError(QStringLiteral("the database would overwrite its own source"));
    QVector<DictRow> rows;
    if (!readCsv(csv, &rows))
        return UbcDictCommand::Failure;
    const QVector<DictionaryChecker::Finding> findings = DictionaryChecker::check(rows);
    report(err, csv, rows, findings, false);
    if (DictionaryChecker::hasErrors(findings)) {
        report(err, csv, rows, findings, true);
        fileError(db, QStringLiteral("not written because of the errors in %1").arg(QDir::toNativeSeparators(csv)));
        return UbcDictCommand::Failure;
    }
    DictionaryFile file(db);
    if (!file.write(rows))
        return fileError(db, file.errorString() + QStringLiteral("; not written"));
    print(out, QStringLiteral("%1: %2 entries\n").arg(QDir::toNativeSeparators(db)).arg(rows.size()));
    return UbcDictCommand::Success;
}

int UbcDictCommandPrivate::check(const QString &file)
{
    QVector<DictRow> rows;
    if (!readRows(file, &rows))
        return UbcDictCommand::Failure;
    const QVector<DictionaryChecker::Finding> findings = DictionaryChecker::check(rows);
    report(out, file, rows, findings, true);
    report(out, file, rows, findings, false);
    if (findings.isEmpty()) {
        print(out, QStringLiteral("%1: %2 entries, no findings\n").arg(QDir::toNativeSeparators(file)).arg(rows.size()));
        return UbcDictCommand::Success;
    }
    print(out, QStringLiteral("%1: %2 entries, %3 findings\n")
                   .arg(QDir::toNativeSeparators(file))
                   .arg(rows.size())
                   .arg(findings.size()));
    return UbcDictCommand::Failure;
}

int UbcDictCommandPrivate::show(const QString &db, const QString &code)
{
    DictionaryFile file(db);
    DictionaryFile::Entry entry;
    switch (file.lookup(code, &entry)) {
    case DictionaryFile::Failed:
        return fileError(db, file.errorString());
    case DictionaryFile::Missing:
        print(err, QStringLiteral("ubc-dict: %1: no entry for code \"%2\"\n").arg(QDir::toNativeSeparators(db), code));
        return UbcDictCommand::Failure;
    case DictionaryFile::Found:
        break;
    }
    QStringList names;
    const QStringList split = entry.attrNames.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    for (const QString &name : split)
        names << QLatin1Char('"') + name + QLatin1Char('"');
    auto yesNo = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
    QString text;
    QTextStream s(&text);
    s << "fncode       " << code << '\n'
      << "fnName       " << (entry.name.isEmpty() ? QStringLiteral("(empty: nothing is logged for this code)") : entry.name) << '\n'
      << "fnGroup      " << (entry.group.isEmpty() ? QStringLiteral("(empty: logged as \"null\")") : entry.group) << '\n'
      << "fnAttrName   " << names.join(QLatin1String(", ")) << '\n'
      << "fnAddLayer   " << yesNo(entry.addLayer) << '\n'
      << "fnAddRegion  " << yesNo(entry.addRegion) << '\n';
    s.flush();
    print(out, text);
    return UbcDictCommand::Success;
}

int UbcDictCommandPrivate::dump(const QString &db, const QString &output)
{
    QVector<DictRow> rows;
    DictionaryFile file(db);
    if (!file.read(&rows))
        return fileError(db, file.errorString());
    const QByteArray csv = DictionaryCsv::write(rows);
    if (output.isNull()) {
        if (out->write(csv) != csv.size())
            return fileError(QStringLiteral("stdout"), out->errorString());
        return UbcDictCommand::Success;
    }
    QSaveFile target(output);
    if (!target.open(QIODevice::WriteOnly) || target.write(csv) != csv.size() || !target.commit())
        return fileError(output, QStringLiteral("cannot write: %1").arg(target.errorString()));
    return UbcDictCommand::Success;
}

UbcDictCommand::UbcDictCommand(QIODevice *out, QIODevice *err)
    : d(new UbcDictCommandPrivate)
{
    d->out = out;
    d->err = err;
}

UbcDictCommand::~UbcDictCommand() = default;

QString UbcDictCommand::helpText()
{
    return QLatin1String(Usage) + QLatin1Char('\n') + QLatin1String(Help);
}

int UbcDictCommand::run(const QStringList &arguments)
{
    const Arguments parsed = parseArguments(arguments);
    if (parsed.help) {
        d->print(d->out, helpText());
        return Success;
    }
    if (!parsed.error.isNull())
        return d->usageError(parsed.error);

    struct Command
    {
        const char *name;
        int arity;
    };
    static const Command commands[] = {{"build", 2}, {"check", 1}, {"show", 2}, {"dump", 1}};
    for (const Command &c : commands) {
        if (parsed.command != QLatin1String(c.name))
            continue;
        if (parsed.positional.size() != c.arity)
            return d->usageError(QStringLiteral("%1 takes %2 argument(s), %3 given")
                                     .arg(parsed.command)
                                     .arg(c.arity)
                                     .arg(parsed.positional.size()));
        const QStringList &p = parsed.positional;
        if (parsed.command == QLatin1String("build"))
            return d->build(p.at(0), p.at(1));
        if (parsed.command == QLatin1String("check"))
            return d->check(p.at(0));
        if (parsed.command == QLatin1String("show"))
            return d->show(p.at(0), p.at(1));
        return d->dump(p.at(0), parsed.output);
    }
    return d->usageError(QStringLiteral("unknown command \"%1\"").arg(parsed.command));
}

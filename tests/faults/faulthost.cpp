// A small host for the fault tests: it logs through the facade, like a real
// host, and tells its parent over stdout what has returned. KelUbc.db is read
// from this executable's folder.
//
//   burst LOG TAG COUNT PAD  COUNT property edits of code TAG, element "<i>",
//                            value of PAD bytes; prints "<i>" as each returns
//   dict LOG                 sends each code read from stdin as a named event,
//                            a list event and an action; prints the slowest
//                            call's milliseconds; ends at end of input;
//                            the library's warnings go to stderr
//   exit LOG quit|return repair|broken
//                            logs 50 records while LOG's folder is a file,
//                            repairs it (or not), logs one more within the
//                            retry gap, then quits the event loop or returns;
//                            messages go to stderr

#include <KelUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTimer>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// The library's own warnings, one line each on stderr.
void libraryWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && qstrncmp(context.category, "kelubc.", 7) == 0)
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

bool report(const std::string &line)
{
    const std::string out = line + '\n';
    return ::write(STDOUT_FILENO, out.data(), out.size()) == ssize_t(out.size());
}

int burst(KelUbc *ubc, const QString &tag, int count, int pad)
{
    const QString value(pad, QLatin1Char('x'));
    for (int i = 0; i < count; ++i) {
        ubc->sendElementPropValueModified(tag, QStringLiteral("pad"), QString::number(i), value);
        if (!report(std::to_string(i)))
            return 1;
    }
    return 0;
}

int dictionary(KelUbc *ubc)
{
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        const QString code = QString::fromUtf8(buffer).trimmed();
        QElapsedTimer timer;
        timer.start();
        ubc->send(code);
        qint64 slowest = timer.restart();
        ubc->send(code, QStringList{QStringLiteral("v1"), QStringLiteral("v2")});
        slowest = qMax(slowest, timer.restart());
        ubc->sendActionExecute(code, QStringLiteral("action"), false);
        report(std::to_string(qMax(slowest, timer.elapsed())));
    }
    return 0;
}

int exitWithWaiting(QCoreApplication &app, KelUbc *ubc, const QString &log, bool quit, bool repair)
{
    QFile blocker(QFileInfo(log).path());
    if (!blocker.open(QIODevice::WriteOnly))
        return 2;
    for (int i = 0; i < 51; ++i) {
        if (i == 50 && repair && !blocker.remove())
            return 2;
        ubc->sendElementPropValueModified(QStringLiteral("X"), QStringLiteral("p"), QString::number(i), QString());
    }
    if (!quit)
        return 0;
    // exit(), not quit(): Qt 6's quit() also sends QEvent::Quit, and the
    // library's close record would join the 51.
    QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    qInstallMessageHandler(args[1] == QLatin1String("dict") ? libraryWarnings : quiet);
    KelUbc *ubc = KelUbc::instance();
    ubc->setLogFilePath(args[2]);
    if (args[1] == QLatin1String("burst") && args.size() == 6)
        return burst(ubc, args[3], args[4].toInt(), args[5].toInt());
    if (args[1] == QLatin1String("dict"))
        return dictionary(ubc);
    if (args[1] == QLatin1String("exit") && args.size() == 5) {
        qInstallMessageHandler(nullptr);
        return exitWithWaiting(app, ubc, args[2], args[3] == QLatin1String("quit"), args[4] == QLatin1String("repair"));
    }
    return 2;
}

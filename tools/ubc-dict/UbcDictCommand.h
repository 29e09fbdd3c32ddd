#pragma once

#include <QStringList>

#include <memory>

class QIODevice;
class UbcDictCommandPrivate;

// The ubc-dict command line: build, check, show and dump. Messages go to the
// two devices given; run() returns the process exit code.
class UbcDictCommand
{
public:
    // The exit codes all the package's programs share.
    enum ExitCode {
        Success = 0,
        Failure = 1, // findings, refused rows, missing code, unreadable input, output not written
        UsageError = 2, // bad or missing arguments; the usage goes to stderr
    };

    UbcDictCommand(QIODevice *out, QIODevice *err);
    ~UbcDictCommand();
    UbcDictCommand(const UbcDictCommand &) = delete;
    UbcDictCommand &operator=(const UbcDictCommand &) = delete;

    // arguments as QCoreApplication::arguments() gives them, program first
    int run(const QStringList &arguments);

    static QString helpText();

private:
    std::unique_ptr<UbcDictCommandPrivate> d;
};

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
    enum ExitCode {
        Success = 0,
        Rejected = 1,   // findings, refused rows, missing code
        Unreadable = 2, // usage error, unreadable input, output not written
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

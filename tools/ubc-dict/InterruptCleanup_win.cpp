#include "InterruptCleanup.h"

#include <QDir>

#include <qt_windows.h>

namespace {

const int MaxPaths = 2;

wchar_t paths[MaxPaths][MAX_PATH];
volatile LONG pathCount = 0;
// Set by arm() and the destructor: until then the handler waits, as a
// blocked signal would.
HANDLE armed = nullptr;

BOOL WINAPI removeAndDie(DWORD)
{
    // The handler runs on a thread of its own while the main thread goes on.
    WaitForSingleObject(armed, INFINITE);
    for (LONG i = 0; i < pathCount; ++i)
        DeleteFileW(paths[i]);
    // Not handled: the next handler, by default ExitProcess, ends the process.
    return FALSE;
}

} // namespace

InterruptCleanup::InterruptCleanup()
{
    armed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(removeAndDie, TRUE);
}

InterruptCleanup::~InterruptCleanup()
{
    pathCount = 0;
    SetEvent(armed);
    SetConsoleCtrlHandler(removeAndDie, FALSE);
}

void InterruptCleanup::arm(const QStringList &names)
{
    int count = 0;
    for (const QString &name : names) {
        const QString native = QDir::toNativeSeparators(name);
        if (count == MaxPaths || native.size() >= MAX_PATH)
            break;
        native.toWCharArray(paths[count]);
        paths[count][native.size()] = L'\0';
        ++count;
    }
    pathCount = count;
    SetEvent(armed);
}

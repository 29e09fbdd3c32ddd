#ifndef UNDERWINE_H
#define UNDERWINE_H

// Whether a Windows test runs under Wine: Wine's appends from two processes
// to one file are not atomic (NTFS's are), so the tests of several writers
// on one log cannot pass there.

#include <QtCore/QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace UnderWine {

inline bool running()
{
#ifdef Q_OS_WIN
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace UnderWine

#endif // UNDERWINE_H

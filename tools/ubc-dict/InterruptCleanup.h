#pragma once

#include <QStringList>

// Removes files if SIGINT, SIGTERM or SIGHUP (on Windows: Ctrl+C, Ctrl+Break
// or the console closing) ends the process while the object lives, then lets
// the process end as it would have. The interruption waits from construction
// until arm() names the files, so a file created in between cannot be missed.
// One object at a time; signals the process ignores stay ignored.
class InterruptCleanup
{
public:
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup &) = delete;
    InterruptCleanup &operator=(const InterruptCleanup &) = delete;

    // At most two paths; their encoded names are copied now, since a signal
    // handler may not allocate.
    void arm(const QStringList &paths);
};

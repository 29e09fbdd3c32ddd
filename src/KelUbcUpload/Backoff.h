#ifndef BACKOFF_H
#define BACKOFF_H

#include <QtCore/QElapsedTimer>

// When to try again after failures in a row: the first delay, doubled
// after each further failure up to the longest; a success starts over.
// With jitter the wait is half fixed, half random, so that desktops that
// lost the server together do not return together.
class Backoff
{
public:
    enum Jitter { NoJitter, HalfRandom };

    Backoff(int firstMsecs, int maxMsecs, Jitter jitter = NoJitter);

    // Counts a failure; returns the wait before the next try, from now.
    int failed();
    void succeeded() { m_failures = 0; }
    // Failures since the last success.
    int failures() const { return m_failures; }
    // The wait after the last failure is over, or nothing failed.
    bool mayTry() const;

private:
    qint64 delay() const;

    int m_first;
    int m_max;
    Jitter m_jitter;
    int m_failures = 0;
    int m_wait = 0;
    QElapsedTimer m_failedAt;
};

#endif // BACKOFF_H

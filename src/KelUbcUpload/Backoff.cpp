#include "Backoff.h"

#include <QtCore/QRandomGenerator>

Backoff::Backoff(int firstMsecs, int maxMsecs, Jitter jitter) : m_first(firstMsecs), m_max(maxMsecs), m_jitter(jitter)
{
}

qint64 Backoff::delay() const
{
    return qMin<qint64>(qint64(m_first) << qMin(m_failures - 1, 20), m_max);
}

int Backoff::failed()
{
    ++m_failures;
    const qint64 full = delay();
    if (m_jitter == HalfRandom) {
        const qint64 half = full / 2;
        m_wait = int(half + QRandomGenerator::global()->bounded(double(half + 1)));
    } else {
        m_wait = int(full);
    }
    m_failedAt.start();
    return m_wait;
}

bool Backoff::mayTry() const
{
    return m_failures == 0 || m_failedAt.elapsed() >= m_wait;
}

// The real work-time tracker: growth, resumption, pausing, removal and
// concurrent use. Bounds are measured, never guessed: a reading taken after
// at least n ms of waiting has grown by at least n.

#include <KelTimeTracker.h>

#include <QtTest/QtTest>

#include <atomic>
#include <limits>
#include <thread>

using namespace std::chrono_literals;
using std::this_thread::sleep_for; // never returns early on the monotonic clock

// Whole milliseconds that cover the span since start, rounded up.
static qint64 spanCeil(const QElapsedTimer &start) { return (start.nsecsElapsed() + 999999) / 1000000; }

class tst_KelTimeTracker : public QObject
{
    Q_OBJECT

    KelTimeTracker *const t = KelTimeTracker::getInstance();

private slots:
    void growsPausesAndForgets()
    {
        QElapsedTimer span;
        span.start();
        t->startTrackWork("grow", 5000);
        t->startTrackWork("pause", 1000);
        sleep_for(60ms);
        const qint64 grown = t->getWorkingTime("grow");
        QVERIFY2(grown >= 5060 && grown <= 5000 + spanCeil(span), qPrintable(QString::number(grown)));

        t->pauseTrackWork("pause");
        const qint64 frozen = t->getWorkingTime("pause");
        QVERIFY(t->isPaused("pause") && frozen >= 1060);
        sleep_for(30ms);
        QCOMPARE(t->getWorkingTime("pause"), frozen);
        t->resumeTrackWork("pause");
        sleep_for(20ms);
        t->resumeTrackWork("pause"); // must not restart a running key's run
        QVERIFY(!t->isPaused("pause") && t->getWorkingTime("pause") >= frozen + 20);

        // A restart takes the new value as it stands, even a smaller one.
        span.start();
        t->startTrackWork("grow", 10);
        const qint64 restarted = t->getWorkingTime("grow");
        QVERIFY(t->isTracking("grow") && restarted >= 10 && restarted <= 10 + spanCeil(span));
        t->removeTrackWork("grow");
        QCOMPARE(t->getWorkingTime("grow"), qint64(0));
        // Pausing or resuming an unknown key creates nothing; the other key stays.
        t->pauseTrackWork("grow");
        t->resumeTrackWork("grow");
        QVERIFY(!t->isTracking("grow") && !t->isPaused("grow") && t->getWorkingTime("pause") >= frozen + 20);

        // A paused key restarted near the top of the range runs and saturates.
        t->pauseTrackWork("pause");
        t->startTrackWork("pause", std::numeric_limits<qint64>::max() - 5);
        sleep_for(20ms);
        QCOMPARE(t->getWorkingTime("pause"), std::numeric_limits<qint64>::max());
    }

    void concurrentUse()
    {
        // Each thread restarts and reads its own key while all of them
        // start, pause, resume, read and remove one shared key.
        std::atomic<int> failures{0};
        auto work = [&](int n) {
            const std::string own = "own-" + std::to_string(n);
            for (int i = 0; i < 3000; ++i) {
                const qint64 base = qint64(n) * 1000000 + i;
                t->startTrackWork(own, base);
                t->startTrackWork("shared", i);
                t->pauseTrackWork("shared");
                t->resumeTrackWork("shared");
                failures += t->getWorkingTime(own) < base || t->getWorkingTime("shared") < 0;
                t->removeTrackWork("shared");
            }
        };
        std::thread workers[8];
        for (int n = 0; n < 8; ++n)
            workers[n] = std::thread(work, n);
        for (std::thread &worker : workers)
            worker.join();
        QCOMPARE(failures.load(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_KelTimeTracker)
#include "tst_keltimetracker.moc"

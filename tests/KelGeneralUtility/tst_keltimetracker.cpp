// The real work-time tracker: growth, resumption, pausing, removal and
// concurrent use. Bounds are measured, never guessed: a reading taken after
// at least n ms of waiting has grown by at least n.

#include <KelTimeTracker.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

namespace {

KelTimeTracker *tracker() { return KelTimeTracker::getInstance(); }

// Busy-sleeps until at least ms milliseconds have passed on the monotonic clock.
void waitAtLeast(qint64 ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.nsecsElapsed() < ms * 1000000)
        QThread::msleep(1);
}

// Whole milliseconds that cover the span since start, rounded up.
qint64 spanCeil(const QElapsedTimer &start) { return (start.nsecsElapsed() + 999999) / 1000000; }

} // namespace

class tst_KelTimeTracker : public QObject
{
    Q_OBJECT

private slots:
    void growsAndResumesFromGivenValue();
    void pauseFreezesAndResumeContinues();
    void removalAndIndependentKeys();
    void hugeValuesSaturate();
    void concurrentUse();
};

void tst_KelTimeTracker::growsAndResumesFromGivenValue()
{
    QCOMPARE(tracker(), KelTimeTracker::getInstance());

    QElapsedTimer outer;
    outer.start();
    tracker()->startTrackWork("grow", 5000);
    const qint64 first = tracker()->getWorkingTime("grow");
    QVERIFY(first >= 5000);
    QVERIFY(first <= 5000 + spanCeil(outer));
    QVERIFY(tracker()->isTracking("grow"));
    QVERIFY(!tracker()->isPaused("grow"));

    outer.start();
    waitAtLeast(60);
    const qint64 second = tracker()->getWorkingTime("grow");
    QVERIFY2(second >= first + 60, qPrintable(QStringLiteral("%1 -> %2").arg(first).arg(second)));
    QVERIFY(second <= first + spanCeil(outer) + 1);

    // A restart takes the new value as it stands, even a smaller one.
    outer.start();
    tracker()->startTrackWork("grow", 10);
    const qint64 restarted = tracker()->getWorkingTime("grow");
    QVERIFY(restarted >= 10);
    QVERIFY(restarted <= 10 + spanCeil(outer));

    tracker()->startTrackWork("grow", -2000);
    QVERIFY(tracker()->getWorkingTime("grow") < 0);
    tracker()->removeTrackWork("grow");
}

void tst_KelTimeTracker::pauseFreezesAndResumeContinues()
{
    tracker()->startTrackWork("pause", 1000);
    waitAtLeast(20);
    tracker()->pauseTrackWork("pause");
    QVERIFY(tracker()->isPaused("pause"));
    const qint64 frozen = tracker()->getWorkingTime("pause");
    QVERIFY(frozen >= 1020);
    waitAtLeast(30);
    QCOMPARE(tracker()->getWorkingTime("pause"), frozen);
    tracker()->pauseTrackWork("pause"); // a second pause keeps the value
    QCOMPARE(tracker()->getWorkingTime("pause"), frozen);

    tracker()->resumeTrackWork("pause");
    QVERIFY(!tracker()->isPaused("pause"));
    waitAtLeast(20);
    const qint64 resumed = tracker()->getWorkingTime("pause");
    QVERIFY(resumed >= frozen + 20);
    tracker()->resumeTrackWork("pause"); // resuming a running key does not restart its run
    QVERIFY(tracker()->getWorkingTime("pause") >= resumed);

    // A restart of a paused key runs again from the new value.
    tracker()->pauseTrackWork("pause");
    tracker()->startTrackWork("pause", 7);
    QVERIFY(!tracker()->isPaused("pause"));
    waitAtLeast(10);
    QVERIFY(tracker()->getWorkingTime("pause") >= 17);
    tracker()->removeTrackWork("pause");
}

void tst_KelTimeTracker::removalAndIndependentKeys()
{
    // The empty key and a UTF-8 key are keys like any other.
    const std::string utf8 = QStringLiteral("工程-1").toStdString();
    tracker()->startTrackWork("", 100);
    tracker()->startTrackWork(utf8, 1000000);
    tracker()->startTrackWork("gone", 50);
    tracker()->pauseTrackWork("");
    const qint64 empty = tracker()->getWorkingTime("");
    tracker()->removeTrackWork("gone");
    waitAtLeast(15);
    QCOMPARE(tracker()->getWorkingTime(""), empty);
    QVERIFY(tracker()->getWorkingTime(utf8) >= 1000015);
    QVERIFY(!tracker()->isPaused(utf8));
    QCOMPARE(tracker()->getWorkingTime("gone"), qint64(0));
    QVERIFY(!tracker()->isTracking("gone"));

    // Asking, pausing or resuming an unknown key creates nothing.
    tracker()->getWorkingTime("never");
    tracker()->pauseTrackWork("never");
    tracker()->resumeTrackWork("never");
    tracker()->removeTrackWork("never");
    QVERIFY(!tracker()->isTracking("never"));
    QVERIFY(!tracker()->isPaused("never"));
    tracker()->removeTrackWork("");
    tracker()->removeTrackWork(utf8);
}

void tst_KelTimeTracker::hugeValuesSaturate()
{
    const qint64 max = std::numeric_limits<qint64>::max();
    tracker()->startTrackWork("huge", max - 5);
    waitAtLeast(20);
    QCOMPARE(tracker()->getWorkingTime("huge"), max);
    tracker()->pauseTrackWork("huge");
    QCOMPARE(tracker()->getWorkingTime("huge"), max);

    const qint64 min = std::numeric_limits<qint64>::min();
    tracker()->startTrackWork("huge", min);
    QVERIFY(tracker()->getWorkingTime("huge") >= min);
    QVERIFY(tracker()->getWorkingTime("huge") < min + 60000);
    tracker()->removeTrackWork("huge");
}

void tst_KelTimeTracker::concurrentUse()
{
    // Each thread restarts its own key and reads it back, and all of them
    // start, pause, resume, read and remove one shared key.
    const int threads = 8;
    const int rounds = 3000;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &failures] {
            const std::string own = "own-" + std::to_string(t);
            for (int i = 0; i < rounds; ++i) {
                const qint64 base = qint64(t) * 1000000 + i;
                tracker()->startTrackWork(own, base);
                const qint64 a = tracker()->getWorkingTime(own);
                const qint64 b = tracker()->getWorkingTime(own);
                if (a < base || b < a)
                    ++failures;
                switch (i % 5) {
                case 0: tracker()->startTrackWork("shared", i); break;
                case 1: tracker()->pauseTrackWork("shared"); break;
                case 2: tracker()->resumeTrackWork("shared"); break;
                case 3: tracker()->removeTrackWork("shared"); break;
                default:
                    if (tracker()->getWorkingTime("shared") < 0)
                        ++failures;
                }
            }
        });
    }
    for (auto &worker : workers)
        worker.join();
    QCOMPARE(failures.load(), 0);
    for (int t = 0; t < threads; ++t) {
        const std::string own = "own-" + std::to_string(t);
        QVERIFY(tracker()->getWorkingTime(own) >= qint64(t) * 1000000 + rounds - 1);
        tracker()->removeTrackWork(own);
    }
    tracker()->removeTrackWork("shared");
}

QTEST_GUILESS_MAIN(tst_KelTimeTracker)
#include "tst_keltimetracker.moc"

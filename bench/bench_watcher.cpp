// The application event watcher runs for every event of the host's GUI
// thread: Qt's delivery of an event it does not handle must cost no more than
// with a filter that returns at once, and a mouse move, its time record
// included, under 250 ns CPU.

#include "KelUbcPrivate.h"

#include <RuvUbcHelper.h>

#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>

#include <benchmark/benchmark.h>

namespace {

class TrivialFilter : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *) override { return false; }
};

QObject *g_watcher = nullptr; // KelUbc's private object
TrivialFilter *g_trivial = nullptr;

// Keeps the call virtual. Not DoNotOptimize: GCC 12 may drop the store behind
// its "+m,r" operand and leave the returned pointer unset.
QObject *opaque(QObject *object)
{
    QObject *volatile hidden = object;
    return hidden;
}

// Qt's delivery of an event the watcher does not handle, with one
// application filter installed: the watcher, or a trivial filter in its place.
// Calling the filter alone would compare 2.5 ns with 1.4 ns, below what the
// machine resolves; the delivery is what a host feels.
class Receiver : public QObject
{
public:
    bool event(QEvent *) override { return true; }
};

void delivery(benchmark::State &state, QObject *installed)
{
    qApp->removeEventFilter(g_watcher);
    qApp->installEventFilter(installed);
    Receiver receiver;
    QEvent event(QEvent::UpdateRequest);
    for (auto _ : state)
        benchmark::DoNotOptimize(QCoreApplication::sendEvent(&receiver, &event));
    qApp->removeEventFilter(installed);
    qApp->installEventFilter(g_watcher);
}

void BM_DeliveryTrivialFilter(benchmark::State &state) { delivery(state, g_trivial); }
BENCHMARK(BM_DeliveryTrivialFilter);

void BM_DeliveryWatcher(benchmark::State &state) { delivery(state, g_watcher); }
BENCHMARK(BM_DeliveryWatcher);

// A move: clock, idle test, and recordTime on a published helper by name.
void BM_WatcherMouseMove(benchmark::State &state)
{
    RuvUbcHelper helper;
    RuvUbcHelper::publish(&helper);
    QObject *f = opaque(g_watcher);
    QObject target;
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    for (auto _ : state)
        benchmark::DoNotOptimize(f->eventFilter(&target, &move));
    if (helper.timeRecordCount() != int(state.iterations()))
        state.SkipWithError("the helper missed time records");
    RuvUbcHelper::publish(nullptr);
}
BENCHMARK(BM_WatcherMouseMove);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    g_watcher = KelUbcPrivate::get(KelUbc::instance());
    TrivialFilter trivial;
    g_trivial = &trivial;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The application event watcher runs for every event of the host's GUI
// thread: events it does not handle must cost no more than a filter that
// returns at once, and a mouse move, its time record included, under 250 ns CPU.

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

QObject *opaque(QObject *object)
{
    benchmark::DoNotOptimize(object); // keeps the call virtual
    return object;
}

// Called as Qt calls an application filter: virtually, through QObject*.
void filterCall(benchmark::State &state, QObject *filter, QEvent::Type type)
{
    QObject *f = opaque(filter);
    QObject target;
    QEvent event(type);
    for (auto _ : state)
        benchmark::DoNotOptimize(f->eventFilter(&target, &event));
}

void BM_TrivialFilter(benchmark::State &state) { filterCall(state, g_trivial, QEvent::UpdateRequest); }
BENCHMARK(BM_TrivialFilter);

void BM_WatcherOtherEvent(benchmark::State &state) { filterCall(state, g_watcher, QEvent::UpdateRequest); }
BENCHMARK(BM_WatcherOtherEvent);

// The same through Qt's delivery, with one application filter installed:
// the watcher, or the trivial filter in its place.
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
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
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

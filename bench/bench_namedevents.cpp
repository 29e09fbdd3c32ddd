// Named events with a cached code against the same record handed straight to
// the behaviour log, and the cost of a cached dictionary look-up.
//
// The look-up has no entry point of its own: send() of a cached code whose
// row has no name does the look-up, initialises a record and logs nothing.
// Its cost minus that of the same record initialisation alone is what the
// look-up, the facade call and the label reset cost together: an upper bound
// of the look-up, measured without adding an entry point to the library.

#include "BenchHost.h"

#include <KelUbc.h>
#include <RuvUbc.h>

#include <benchmark/benchmark.h>

namespace {

const QString kCode = QStringLiteral("213045");
const QString kName = QStringLiteral("绘制轴网");
const QString kGroup = QStringLiteral("建模");
const QString kUnnamedCode = QStringLiteral("213099");
const QString kLayer = QStringLiteral("L2");

QMap<QString, QString> callerAttrs()
{
    return {{QStringLiteral("location"), QStringLiteral("Ribbon工具栏")}};
}

// Hosts route Qt messages to their own handler; here they go nowhere, so
// neither side pays for printing. KelUbc still formats its info line.
// The record that send(kCode, callerAttrs()) logs, built and handed over directly.
void BM_DirectRecord(benchmark::State &state)
{
    QMap<QString, QString> attrs = callerAttrs();
    attrs.insert(QStringLiteral("layer"), kLayer);
    BenchHost::timeDirectRecord(state, kCode, kName, kGroup, [&attrs] { return attrs; });
}
BENCHMARK(BM_DirectRecord);

void BM_NamedEventCached(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    const QMap<QString, QString> attrs = callerAttrs();
    for (auto _ : state)
        ubc->send(kCode, attrs);
}
BENCHMARK(BM_NamedEventCached);

void BM_NamedEventPaired(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    const QMap<QString, QString> attrs = callerAttrs();
    QMap<QString, QString> direct = callerAttrs();
    direct.insert(QStringLiteral("layer"), kLayer);
    BenchHost::timePairedRecord(
        state, [&] { ubc->send(kCode, attrs); }, kCode, kName, kGroup, [&direct] { return direct; });
}
BENCHMARK(BM_NamedEventPaired);

void BM_NamedEventListCached(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    const QStringList values{QStringLiteral("Ribbon工具栏")};
    for (auto _ : state)
        ubc->send(kCode, values);
}
BENCHMARK(BM_NamedEventListCached);

void BM_NamedEventListPaired(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    const QStringList values{QStringLiteral("Ribbon工具栏")};
    QMap<QString, QString> direct = callerAttrs();
    direct.insert(QStringLiteral("layer"), kLayer);
    BenchHost::timePairedRecord(
        state, [&] { ubc->send(kCode, values); }, kCode, kName, kGroup, [&direct] { return direct; });
}
BENCHMARK(BM_NamedEventListPaired);

// Blocks of the two, alternated so that a busy machine slows both alike; in
// this thread's CPU time, so time spent descheduled counts for neither.
void BM_CachedLookupUpperBound(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    RuvUbc *log = RuvUbc::instance();
    constexpr int block = 256;
    qint64 sendNs = 0, initNs = 0;
    for (auto _ : state) {
        const qint64 t0 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i)
            ubc->send(kUnnamedCode);
        const qint64 t1 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i) {
            UbcDataProtocol r;
            log->initUbcDataProtocol(r);
            r.attrs.clear();
            benchmark::DoNotOptimize(r);
        }
        const qint64 t2 = BenchHost::threadCpuNs();
        sendNs += t1 - t0;
        initNs += t2 - t1;
    }
    // The time columns cover both blocks; the counters say per call.
    const double calls = double(state.iterations()) * block;
    state.counters["send_ns"] = double(sendNs) / calls;
    state.counters["init_ns"] = double(initNs) / calls;
    state.counters["lookup_ns"] = double(sendNs - initNs) / calls;
}
BENCHMARK(BM_CachedLookupUpperBound);

// The named code must really reach the log (BenchHost runs this once more
// from the cache).
bool warmUp()
{
    KelUbc *ubc = KelUbc::instance();
    ubc->setCurLayer(kLayer);
    int logged = 0;
    const int id = RuvUbc::instance()->addListener([&logged](const UbcDataProtocol &r) {
        logged += r.fnname == kName && r.attrs.value(QStringLiteral("layer")) == kLayer;
    });
    ubc->send(kCode, callerAttrs());
    ubc->send(kUnnamedCode);
    RuvUbc::instance()->removeListener(id);
    return logged == 1;
}

} // namespace

int main(int argc, char **argv)
{
    return BenchHost::run(argc, argv,
                          QStringLiteral("('%1', '%2', '%3', 'location', 1, 0),"
                                          " ('%4', '', '%3', '', 1, 0)").arg(kCode, kName, kGroup, kUnnamedCode),
                          warmUp);
}

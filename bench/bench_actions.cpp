// Executed actions and coded events. An action with a cached code against
// the same record handed straight to the behaviour log; a coded send with a
// layer attribute through the facade against the published helper called
// directly, so the facade's share (switch, layer rule, invocation of the
// method found once) shows. The helper writes its journal, as a host's does:
// a helper that only counts would make the ratio the facade's cost against
// almost nothing.

#include "BenchHost.h"

#include <KelUbc.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <benchmark/benchmark.h>

namespace {

const QString kCode = QStringLiteral("213045");
const QString kName = QStringLiteral("绘制轴网");
const QString kGroup = QStringLiteral("建模");
const QString kLocation = QStringLiteral("Ribbon工具栏");
constexpr quint64 kCoded = 580101004;

// The record sendActionExecute(kCode, kName, false) logs, with its location.
void BM_DirectActionRecord(benchmark::State &state)
{
    BenchHost::timeDirectRecord(state, kCode, kName, kGroup, [] {
        return QMap<QString, QString>{{QStringLiteral("location"), kLocation}};
    });
}
BENCHMARK(BM_DirectActionRecord);

// The location label is empty here (no press came before); the record is the
// same size but for those few bytes.
void BM_ActionExecute(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    for (auto _ : state)
        ubc->sendActionExecute(kCode, kName, false);
}
BENCHMARK(BM_ActionExecute);

void BM_ActionPaired(benchmark::State &state)
{
    KelUbc *ubc = KelUbc::instance();
    BenchHost::timePairedRecord(
        state, [ubc] { ubc->sendActionExecute(kCode, kName, false); }, kCode, kName, kGroup,
        [] { return QMap<QString, QString>{{QStringLiteral("location"), kLocation}}; });
}
BENCHMARK(BM_ActionPaired);

// Beside the process's fresh record log.
QString journalPath()
{
    return RuvUbc::instance()->logFilePath() + QStringLiteral(".events");
}

RuvUbcAttrType codedAttrs()
{
    return {{QStringLiteral("layer"), QString()}, {QStringLiteral("prjedocnt"), QStringLiteral("7")}};
}

void BM_HelperDirect(benchmark::State &state)
{
    RuvUbcHelper helper(journalPath());
    RuvUbcAttrType attrs = codedAttrs();
    attrs.insert(QStringLiteral("layer"), QStringLiteral("L2"));
    for (auto _ : state)
        helper.sendData(kCoded, attrs);
}
BENCHMARK(BM_HelperDirect);

void BM_CodedSend(benchmark::State &state)
{
    RuvUbcHelper helper(journalPath());
    RuvUbcHelper::publish(&helper);
    KelUbc *ubc = KelUbc::instance();
    ubc->setCurLayer(QStringLiteral("L2"));
    QMap<QString, QString> attrs = codedAttrs();
    for (auto _ : state)
        ubc->send(kCoded, attrs);
    if (helper.eventCount() != int(state.iterations()))
        state.SkipWithError("the helper missed coded events");
    RuvUbcHelper::publish(nullptr);
}
BENCHMARK(BM_CodedSend);

// The two above in alternating blocks, in this thread's CPU time, so that a
// busy machine slows both alike: the ratio the target is about.
void BM_CodedSendPaired(benchmark::State &state)
{
    RuvUbcHelper helper(journalPath());
    RuvUbcHelper::publish(&helper);
    KelUbc *ubc = KelUbc::instance();
    ubc->setCurLayer(QStringLiteral("L2"));
    QMap<QString, QString> attrs = codedAttrs();
    RuvUbcAttrType direct = codedAttrs();
    direct.insert(QStringLiteral("layer"), QStringLiteral("L2"));
    constexpr int block = 256;
    qint64 sendNs = 0, helperNs = 0;
    for (auto _ : state) {
        const qint64 t0 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i)
            ubc->send(kCoded, attrs);
        const qint64 t1 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i)
            helper.sendData(kCoded, direct);
        const qint64 t2 = BenchHost::threadCpuNs();
        sendNs += t1 - t0;
        helperNs += t2 - t1;
    }
    if (helper.eventCount() != int(state.iterations()) * block * 2)
        state.SkipWithError("the helper missed coded events");
    RuvUbcHelper::publish(nullptr);
    const double calls = double(state.iterations()) * block;
    state.counters["send_ns"] = double(sendNs) / calls;
    state.counters["helper_ns"] = double(helperNs) / calls;
}
BENCHMARK(BM_CodedSendPaired);

// The code's group must come from the dictionary, so the row is cached.
bool warmUp()
{
    int logged = 0;
    const int id = RuvUbc::instance()->addListener([&logged](const UbcDataProtocol &r) {
        logged += r.fncode == kCode && r.fngroup == kGroup;
    });
    KelUbc::instance()->sendActionExecute(kCode, kName, false);
    RuvUbc::instance()->removeListener(id);
    return logged == 1;
}

} // namespace

int main(int argc, char **argv)
{
    RuvUbcHelper::registerMetaTypes();
    return BenchHost::run(argc, argv,
                          QStringLiteral("('%1', '%2', '%3', '', 0, 0)").arg(kCode, kName, kGroup),
                          warmUp);
}

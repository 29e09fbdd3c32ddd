// The uploader's costs: what the logging thread pays per record with upload
// on against off, the row conversion, and a million records end to end to a
// ClickHouse server through its gateway (KELUBC_BENCH_CLICKHOUSE_URL, the
// token in KELUBC_BENCH_TOKEN; scripts/bench-upload.sh starts both).

#include "../tests/KelUbcUpload/HttpStandIn.h"

#include <KelUbcUploader.h>
#include <RecordFormat/RecordGenerator.h>
#include <RecordRowWriter.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSemaphore>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtCore/QUuid>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir *g_dir = nullptr;
QString g_standInUrl;

UbcDataProtocol typicalRecord()
{
    UbcDataProtocol r;
    RuvUbc::instance()->initUbcDataProtocol(r);
    r.fncode = QStringLiteral("210101");
    r.fnname = QStringLiteral("绘制墙");
    r.fngroup = QStringLiteral("绘图");
    r.attrs = {{QStringLiteral("location"), QStringLiteral("Ribbon工具栏")}, {QStringLiteral("layer"), QStringLiteral("结构")}};
    return r;
}

// One record appended by the log, in the thread that logs, while the
// uploader (when on) follows the same file and ships it to a stand-in.
void logRecords(benchmark::State &state, bool upload)
{
    const QString path = g_dir->filePath(QStringLiteral("%1.jsonl").arg(upload ? "on" : "off"));
    RuvUbc *log = RuvUbc::instance();
    log->setLogFilePath(path);
    KelUbcUploader uploader;
    if (upload) {
        uploader.setLogFilePath(path);
        uploader.setUrl(QUrl(g_standInUrl));
        uploader.setPollInterval(20);
        uploader.setMaxBatchAge(0);
        uploader.setConsentGiven(true);
        uploader.start();
    }
    const UbcDataProtocol record = typicalRecord();
    for (auto _ : state) {
        UbcDataProtocol r = record;
        log->logUbcDataProtocol(r);
    }
    if (upload) {
        uploader.finish(5000);
        state.counters["confirmed"] = double(uploader.confirmedLines());
    }
}

void BM_RecordUploadOff(benchmark::State &state) { logRecords(state, false); }
BENCHMARK(BM_RecordUploadOff);

void BM_RecordUploadOn(benchmark::State &state) { logRecords(state, true); }
BENCHMARK(BM_RecordUploadOn);

// One log line into its ClickHouse row.
void BM_RowWriter(benchmark::State &state)
{
    UbcDataProtocol record = typicalRecord();
    record.sessionid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QByteArray line = RuvUbc::toJsonLine(record, 12345);
    line.chop(1);
    const int size = line.size();
    line.append(QByteArray(RecordRowWriter::Padding, ' '));
    RecordRowWriter writer;
    QByteArray out;
    for (auto _ : state) {
        out.clear();
        writer.append(line.constData(), size, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_RowWriter);

// The same row with Qt's JSON classes: the road not taken.
void BM_RowQJsonDocument(benchmark::State &state)
{
    UbcDataProtocol record = typicalRecord();
    record.sessionid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray line = RuvUbc::toJsonLine(record, 12345);
    for (auto _ : state) {
        QJsonObject row = QJsonDocument::fromJson(line).object();
        const QJsonObject attrs = row.take(QStringLiteral("attrs")).toObject();
        QJsonArray keys, values;
        for (auto it = attrs.begin(); it != attrs.end(); ++it) {
            keys.append(it.key());
            values.append(it.value());
        }
        row.insert(QStringLiteral("attrs.key"), keys);
        row.insert(QStringLiteral("attrs.value"), values);
        row.insert(QStringLiteral("time"), QDateTime::fromString(row.value(QStringLiteral("trigertime")).toString(), Qt::ISODateWithMs)
                                                   .toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        benchmark::DoNotOptimize(QJsonDocument(row).toJson(QJsonDocument::Compact));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RowQJsonDocument);

// A million records from the local log to the server, confirmed.
void BM_UploadMillion(benchmark::State &state)
{
    const QString url = qEnvironmentVariable("KELUBC_BENCH_CLICKHOUSE_URL");
    if (url.isEmpty()) {
        state.SkipWithError("KELUBC_BENCH_CLICKHOUSE_URL is not set");
        return;
    }
    const int n = 1000000;
    // Sessions of 10,000 records; with state.range(0) == 0 without seq, as
    // another behaviour-log library writes them.
    const QString path = g_dir->filePath(QStringLiteral("million-%1.jsonl").arg(state.range(0)));
    RecordGenerator::Options options;
    options.count = n;
    options.machines = n / 10000;
    options.base = typicalRecord();
    options.withSeq = state.range(0) != 0;
    if (!QFile::exists(path) && !RecordGenerator::appendTo(path, options)) {
        state.SkipWithError("cannot write the log");
        return;
    }
    for (auto _ : state) {
        QFile::remove(path + QStringLiteral(".cursor"));
        KelUbcUploader uploader;
        uploader.setLogFilePath(path);
        uploader.setUrl(QUrl(url));
        uploader.setHeader("Authorization", "Bearer " + qgetenv("KELUBC_BENCH_TOKEN")); // the gateway's
        uploader.setPollInterval(50);
        uploader.setMaxBatchAge(0);
        uploader.setConsentGiven(true);
        QElapsedTimer timer;
        timer.start();
        uploader.start();
        while (uploader.confirmedLines() < quint64(n) && timer.elapsed() < 300000)
            QThread::msleep(5);
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        state.counters["records_per_s"] = uploader.confirmedLines() / seconds;
        if (uploader.confirmedLines() != quint64(n))
            state.SkipWithError(qPrintable(QStringLiteral("only %1 confirmed: %2").arg(uploader.confirmedLines()).arg(uploader.lastError())));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_UploadMillion)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    g_dir = &dir;
    // The stand-in answers in a thread of its own, as a server would.
    QSemaphore ready;
    QThread *server = QThread::create([&ready] {
        HttpStandIn standIn;
        standIn.answer = [&standIn](const StandInRequest &) {
            standIn.requests.clear(); // keep nothing
            return 200;
        };
        g_standInUrl = standIn.url();
        ready.release();
        QEventLoop loop;
        QObject::connect(QThread::currentThread(), &QThread::finished, &loop, &QEventLoop::quit);
        loop.exec();
    });
    server->start();
    ready.acquire();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server->quit();
    server->wait();
    delete server;
    return 0;
}

// ubc-report's file source over a generated log of a million records (about
// 680 MB) as RuvUbc writes them: the whole read, from the file to Aggregates.
//
//   bench_report                          runs the benchmark (the log is made once, in a temporary folder)
//   bench_report --generate FILE N        writes N records as log lines
//   bench_report --generate-rows FILE N   the same records as ClickHouse JSONEachRow rows
#include "FileSource.h"

#include <RecordFormat/RecordGenerator.h>
#include <RecordRowWriter.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace {

// Sessions as the library writes them (RecordGenerator::Sessions), as log
// lines or as the uploader's rows of the same lines.
bool generate(const char *path, int64_t records, bool rows)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    RecordGenerator::Options options;
    options.profile = RecordGenerator::Sessions;
    options.count = records;
    RecordGenerator generator(options);
    RecordRowWriter rowWriter;
    QByteArray line, out;
    while (generator.next(line)) {
        if (rows) {
            line.chop(1);
            line.append(QByteArray(RecordRowWriter::Padding, ' '));
            if (!rowWriter.append(line.constData(), line.size() - RecordRowWriter::Padding, out))
                return false;
        } else {
            out += line;
        }
        line.clear();
        if (out.size() > (1 << 22)) {
            if (file.write(out) != out.size())
                return false;
            out.clear();
        }
    }
    return file.write(out) == out.size() && file.flush();
}

QTemporaryDir *g_dir = nullptr;

void BM_ReportMillionRecords(benchmark::State &state)
{
    const QString path = g_dir->filePath(QStringLiteral("records.jsonl"));
    if (!QFile::exists(path) && !generate(QFile::encodeName(path).constData(), 1000000, false)) {
        state.SkipWithError("cannot write the log");
        return;
    }
    int64_t records = 0;
    for (auto _ : state) {
        FileSource source(ReportFilter{});
        if (!source.readLogs({path}) || !source.readTimeline()) {
            state.SkipWithError("cannot read the log");
            return;
        }
        records = source.stats().records;
        benchmark::DoNotOptimize(source.aggregates());
    }
    state.counters["records"] = double(records);
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}
BENCHMARK(BM_ReportMillionRecords)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && (!std::strcmp(argv[1], "--generate") || !std::strcmp(argv[1], "--generate-rows")))
        return generate(argv[2], std::atoll(argv[3]), !std::strcmp(argv[1], "--generate-rows")) ? 0 : 1;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

QTemporaryDir *g_dir = nullptr;

// Ten filled fields and two attributes, as KelUbc logs an action.
UbcDataProtocol typicalRecord()
{
    UbcDataProtocol r;
    r.pcode = QStringLiteral("KELDEMO");
    r.fncode = QStringLiteral("213045");
    r.fnname = QStringLiteral("绘制轴网");
    r.fngroup = QStringLiteral("建模");
    r.trigertime = QStringLiteral("2026-12-05T15:50:24.123+08:00");
    r.vername = QStringLiteral("ubc-demo");
    r.ver = QStringLiteral("1.0.0");
    r.ver2 = QStringLiteral("5.15.8");
    r.debug = QStringLiteral("0");
    r.sessionid = QStringLiteral("3f2b8c1e-5d7a-4e21-9b0c-8a6f1d2e4c57");
    r.attrs.insert(QStringLiteral("location"), QStringLiteral("Ribbon工具栏"));
    r.attrs.insert(QStringLiteral("layer"), QStringLiteral("L2"));
    return r;
}

// A new file for each run of a benchmark, on both sides of the ratio: the
// log's sink keeps its file open, so a file removed and made again at the
// same path would leave it appending to the one that earlier runs grew.
QString freshPath(const char *name)
{
    static int runs = 0;
    return g_dir->filePath(QStringLiteral("%1-%2.jsonl").arg(QLatin1String(name)).arg(++runs));
}

void BM_LogRecord(benchmark::State &state)
{
    RuvUbc *log = RuvUbc::instance();
    const QString path = freshPath("log");
    log->setLogFilePath(path);
    UbcDataProtocol r = typicalRecord();
    for (auto _ : state)
        log->logUbcDataProtocol(r);
    state.SetItemsProcessed(state.iterations());
    QFile::remove(path);
}
BENCHMARK(BM_LogRecord);

void BM_ToJsonLine(benchmark::State &state)
{
    const UbcDataProtocol r = typicalRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(RuvUbc::toJsonLine(r));
}
BENCHMARK(BM_ToJsonLine);

// The baseline: the same line, with a "seq" of as many digits as most of
// BM_LogRecord's, appended with one write(2) to a new file opened O_APPEND.
void BM_RawWrite(benchmark::State &state)
{
    const QByteArray line = RuvUbc::toJsonLine(typicalRecord(), 123456);
    const QString path = freshPath("raw");
#ifdef Q_OS_WIN
    // The same system call as the log: WriteFile on an append-only handle.
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    HANDLE h = CreateFileW(native.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        state.SkipWithError("cannot open the file");
        return;
    }
    DWORD written = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteFile(h, line.constData(), DWORD(line.size()), &written, nullptr));
    CloseHandle(h);
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        state.SkipWithError("cannot open the file");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(::write(fd, line.constData(), size_t(line.size())));
    ::close(fd);
#endif
    QFile::remove(path);
}
BENCHMARK(BM_RawWrite);

void BM_QJsonDocument(benchmark::State &state)
{
    const UbcDataProtocol r = typicalRecord();
    const QStringList names = RuvUbc::fieldNames();
    const QStringList values{r.pcode, r.fncode, r.fnname, r.fngroup, r.trigertime, r.gid, r.vername,
                             r.ver, r.ver2, r.debug, r.usetype, r.utype, r.mac, r.hardwareid, r.ip,
                             r.projectid, r.prjfullpath, r.prjtext, r.prjedocnt, r.prjsize, r.prjcost,
                             r.regionrule, r.major, r.duration, r.sessionid};
    for (auto _ : state) {
        QJsonObject o;
        for (int i = 0; i < names.size(); ++i)
            o.insert(names[i], values[i]);
        QJsonObject attrs;
        for (auto it = r.attrs.cbegin(); it != r.attrs.cend(); ++it)
            attrs.insert(it.key(), it.value());
        o.insert(QStringLiteral("attrs"), attrs);
        benchmark::DoNotOptimize(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }
}
BENCHMARK(BM_QJsonDocument);

void BM_InitRecord(benchmark::State &state)
{
    RuvUbc *log = RuvUbc::instance();
    for (auto _ : state) {
        UbcDataProtocol r;
        log->initUbcDataProtocol(r);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_InitRecord);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

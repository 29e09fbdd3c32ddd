#include "ThreadCpuTime.h"

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <deque>
#include <iterator>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QTemporaryDir *g_dir = nullptr;

// Ten filled fields and two attributes, as KelUbc logs an action, every
// text the record's own.
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

// Records as KelUbc makes them: initUbcDataProtocol() fills what every record
// shares (product, versions, machine, session) from the log's own strings; the
// names are copies of the dictionary's strings, the place and the layer of the
// facade's; the time is the record's own. Eight commands are logged in turn,
// so no command's names fill two records running.
class HostRecords
{
public:
    HostRecords()
    {
        const UbcDataProtocol own = typicalRecord();
        for (int i = 0; i < int(std::size(m_records)); ++i) {
            UbcDataProtocol &r = m_records[i];
            RuvUbc::instance()->initUbcDataProtocol(r);
            // Of the same length as typicalRecord()'s.
            r.trigertime = QString(own.trigertime).replace(22, 1, QString::number(i));
            r.fncode = m_names.emplace_back(QString::number(own.fncode.toInt() + i));
            r.fnname = m_names.emplace_back(own.fnname + QString::number(i));
            r.fngroup = m_names.emplace_back(hostCopy(own.fngroup));
            for (auto it = own.attrs.cbegin(); it != own.attrs.cend(); ++it)
                r.attrs.insert(it.key(), facade(it.value()));
        }
    }
    UbcDataProtocol &next() { return m_records[m_next++ % std::size(m_records)]; }
    const UbcDataProtocol &first() const { return m_records[0]; }

private:
    // The host's own string, not a literal's data.
    static QString hostCopy(const QString &s) { return QString(s.constData(), s.size()); }
    // The facade's one string of each attribute value, as its place and layer.
    const QString &facade(const QString &value)
    {
        for (const QString &kept : m_facade)
            if (kept == value)
                return kept;
        return m_facade.emplace_back(hostCopy(value));
    }

    UbcDataProtocol m_records[8];
    std::deque<QString> m_names; // the dictionary's
    std::deque<QString> m_facade;
    unsigned m_next = 0;
};

// A new file for each run of a benchmark, on both sides of the ratio: the
// log's sink keeps its file open, so a file removed and made again at the
// same path would leave it appending to the one that earlier runs grew.
QString freshPath(const char *name)
{
    static int runs = 0;
    return g_dir->filePath(QStringLiteral("%1-%2.jsonl").arg(QLatin1String(name)).arg(++runs));
}

// Appends the records that next() gives to a new log file of their own.
template <typename Next>
void logRecords(benchmark::State &state, const char *name, Next next)
{
    RuvUbc *log = RuvUbc::instance();
    const QString path = freshPath(name);
    log->setLogFilePath(path);
    for (auto _ : state)
        log->logUbcDataProtocol(next());
    state.SetItemsProcessed(state.iterations());
    QFile::remove(path);
}

void BM_LogRecord(benchmark::State &state)
{
    HostRecords records;
    logRecords(state, "log", [&records]() -> UbcDataProtocol & { return records.next(); });
}
BENCHMARK(BM_LogRecord);

// One record logged again and again, all its texts its own (literals): none
// is taken from the texts that records share.
void BM_LogRecordOwnTexts(benchmark::State &state)
{
    UbcDataProtocol r = typicalRecord();
    logRecords(state, "own", [&r]() -> UbcDataProtocol & { return r; });
}
BENCHMARK(BM_LogRecordOwnTexts);

void BM_ToJsonLine(benchmark::State &state)
{
    const UbcDataProtocol r = typicalRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(RuvUbc::toJsonLine(r));
}
BENCHMARK(BM_ToJsonLine);

// A line appended with one write(2) to a new file opened O_APPEND.
void rawWrite(benchmark::State &state, const QByteArray &line)
{
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

// The baseline: BM_LogRecord's first line, with a "seq" of as many digits as
// most of its lines have.
void BM_RawWrite(benchmark::State &state)
{
    rawWrite(state, RuvUbc::toJsonLine(HostRecords().first(), 123456));
}
BENCHMARK(BM_RawWrite);

// The same line as BM_LogRecordOwnTexts, appended with one write(2).
void BM_RawWriteOwnTexts(benchmark::State &state)
{
    rawWrite(state, RuvUbc::toJsonLine(typicalRecord(), 123456));
}
BENCHMARK(BM_RawWriteOwnTexts);

// Appends of the records that next() gives and write(2)s of line in
// alternating blocks, both to the log's current file, in this thread's CPU
// time: the file's size and the machine's state weigh on both sides alike.
template <typename Next>
void appendAndWrite(benchmark::State &state, const char *name, const QByteArray &line, Next next)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    Q_UNUSED(line);
    Q_UNUSED(next);
    state.SkipWithError("write(2) is the baseline here; BM_RawWrite has WriteFile");
#else
    RuvUbc *log = RuvUbc::instance();
    const QString path = freshPath(name);
    log->setLogFilePath(path);
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    ino_t inode = 0;
    constexpr int block = 256;
    qint64 appendNs = 0, writeNs = 0;
    for (auto _ : state) {
        const qint64 t0 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i)
            log->logUbcDataProtocol(next());
        const qint64 t1 = BenchHost::threadCpuNs();
        // The file the log appends to now: it rotates at its size limit.
        struct stat st;
        if (::stat(native.constData(), &st) == 0 && (fd < 0 || st.st_ino != inode)) {
            if (fd >= 0)
                ::close(fd);
            fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
            inode = st.st_ino;
        }
        if (fd < 0) {
            state.SkipWithError("cannot open the log's file");
            break;
        }
        const qint64 t2 = BenchHost::threadCpuNs();
        for (int i = 0; i < block; ++i)
            benchmark::DoNotOptimize(::write(fd, line.constData(), size_t(line.size())));
        const qint64 t3 = BenchHost::threadCpuNs();
        appendNs += t1 - t0;
        writeNs += t3 - t2;
    }
    if (fd >= 0)
        ::close(fd);
    const double calls = double(state.iterations()) * block;
    state.counters["append_ns"] = double(appendNs) / calls;
    state.counters["write_ns"] = double(writeNs) / calls;
    QFile::remove(path);
#endif
}

// BM_LogRecord and BM_RawWrite in alternating blocks: the ratio the target
// is about.
void BM_LogRecordPaired(benchmark::State &state)
{
    HostRecords records;
    appendAndWrite(state, "paired", RuvUbc::toJsonLine(records.first(), 123456),
                   [&records]() -> UbcDataProtocol & { return records.next(); });
}
BENCHMARK(BM_LogRecordPaired);

// BM_LogRecordOwnTexts and BM_RawWriteOwnTexts in alternating blocks.
void BM_LogRecordOwnTextsPaired(benchmark::State &state)
{
    UbcDataProtocol r = typicalRecord();
    appendAndWrite(state, "ownpaired", RuvUbc::toJsonLine(r, 123456), [&r]() -> UbcDataProtocol & { return r; });
}
BENCHMARK(BM_LogRecordOwnTextsPaired);

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
    // Named as the demo and the example host name themselves: with literals.
    QCoreApplication::setApplicationName(QStringLiteral("ubc-demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    RuvUbc::instance()->setProductCode(QStringLiteral("KELDEMO"));
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

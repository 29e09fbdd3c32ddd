#ifndef BENCHHOST_H
#define BENCHHOST_H

// What the library's benchmarks share: a dictionary beside the program, the
// record log in a temporary folder, and Qt's messages silenced for the timed
// part (a host has its own handler; neither side should pay for printing).

#include "ThreadCpuTime.h"

#include <KelUbc.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <functional>

namespace BenchHost {

// Makes KelUbc.db at path with the rows given as SQL values "('code', ...), ...".
inline bool makeDictionary(const QString &path, const QString &rows)
{
    QFile::remove(path);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-writer"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        ok = db.open()
             && query.exec(QStringLiteral("create table FuncDict (fncode text, fnName text, fnGroup text,"
                                          " fnAttrName text, fnAddLayer integer, fnAddRegion integer)"))
             && query.exec(QStringLiteral("insert into FuncDict values ") + rows);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-writer"));
    return ok;
}

// The record KelUbc logs for a code, built here and handed to the log
// directly: the baseline the facade's own cost shows against.
template <typename MakeAttrs>
void logDirectRecord(RuvUbc *log, const QString &code, const QString &name, const QString &group, MakeAttrs makeAttrs)
{
    UbcDataProtocol r;
    log->initUbcDataProtocol(r);
    r.fncode = code;
    r.fnname = name;
    r.fngroup = group;
    r.attrs = makeAttrs();
    log->logUbcDataProtocol(r);
}

template <typename MakeAttrs>
void timeDirectRecord(benchmark::State &state, const QString &code, const QString &name,
                      const QString &group, MakeAttrs makeAttrs)
{
    RuvUbc *log = RuvUbc::instance();
    log->setFilterType(15); // what a record of KelUbc runs with
    for (auto _ : state)
        logDirectRecord(log, code, name, group, makeAttrs);
    log->setFilterType(0);
}

// Blocks of a facade call and of the same record handed to the log directly,
// alternated on the same record log, so that a busy machine and a growing
// file slow both alike; in this thread's CPU time. The counters say per call.
template <typename Facade, typename MakeAttrs>
void timePairedRecord(benchmark::State &state, Facade facade, const QString &code, const QString &name,
                      const QString &group, MakeAttrs makeAttrs)
{
    RuvUbc *log = RuvUbc::instance();
    constexpr int block = 256;
    qint64 facadeNs = 0, directNs = 0;
    for (auto _ : state) {
        const qint64 t0 = threadCpuNs();
        for (int i = 0; i < block; ++i)
            facade();
        const qint64 t1 = threadCpuNs();
        log->setFilterType(15); // the facade leaves 0 after its record
        for (int i = 0; i < block; ++i)
            logDirectRecord(log, code, name, group, makeAttrs);
        log->setFilterType(0);
        const qint64 t2 = threadCpuNs();
        facadeNs += t1 - t0;
        directNs += t2 - t1;
    }
    const double calls = double(state.iterations()) * block;
    state.counters["facade_ns"] = double(facadeNs) / calls;
    state.counters["direct_ns"] = double(directNs) / calls;
}

inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

// A failed dictionary look-up writes a debug line.
inline int &debugLines()
{
    static int count = 0;
    return count;
}
inline void countDebugLine(QtMsgType type, const QMessageLogContext &, const QString &)
{
    debugLines() += type == QtDebugMsg;
}

// Runs the registered benchmarks once warmUp has filled the dictionary cache
// and proved, twice, that records reach the log.
inline int run(int argc, char **argv, const QString &rows, const std::function<bool()> &warmUp)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    QTemporaryDir dir;
    const QString dictionary = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
    if (!dir.isValid() || !makeDictionary(dictionary, rows)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(dictionary));
        return 1;
    }
    // A fresh log for each process: a ratio's two sides run in processes of
    // their own, so neither appends to a file the other has grown.
    KelUbc::instance()->setLogFilePath(dir.filePath(QStringLiteral("records.jsonl")));
    const bool ready = warmUp();
    QFile::remove(dictionary);
    // Once more without the file: every row now comes from the cache.
    qInstallMessageHandler(countDebugLine);
    if (!ready || !warmUp() || debugLines() != 0) {
        std::fprintf(stderr, "the dictionary rows were not served from the cache\n");
        return 1;
    }
    qInstallMessageHandler(dropMessage);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace BenchHost

#endif

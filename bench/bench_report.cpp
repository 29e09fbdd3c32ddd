// ubc-report's file source over a generated log of a million records (about
// 680 MB) as RuvUbc writes them: the whole read, from the file to Aggregates.
//
//   bench_report                          runs the benchmark (the log is made once, in a temporary folder)
//   bench_report --generate FILE N        writes N records as log lines
//   bench_report --generate-rows FILE N   the same records as ClickHouse JSONEachRow rows
#include "FileSource.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

struct Command { const char *code, *name, *group; };
const Command commands[] = {
    {"210101", "绘制墙", "绘图"}, {"210102", "绘制柱", "绘图"}, {"210103", "绘制梁", "绘图"},
    {"210104", "绘制板", "绘图"}, {"210201", "偏移", "编辑"}, {"210202", "复制", "编辑"},
    {"210204", "移动", "编辑"}, {"210209", "删除", "编辑"}, {"210302", "三维视图", "视图"},
    {"210303", "平面视图", "视图"}, {"210401", "图层管理器", "图层"}, {"210501", "计算工程量", "计算"},
    {"210601", "导出报表", "报表"}, {"213037", "重做", "编辑"}, {"210801", "尺寸标注", "标注"},
};
const char *const locations[] = {"Ribbon工具栏", "Ribbon工具栏", "Ribbon工具栏", "Ribbon快捷栏", "右键", "视图面板", "快捷键", ""};
const char *const properties[] = {"厚度", "高度", "材质", "标高"};

// Writes records the way the library does: sessions of a few hundred records
// on a few hundred machines, each opening, editing, saving and closing a project.
class LogWriter
{
public:
    LogWriter(std::FILE *out, bool rows) : m_out(out), m_rows(rows) {}

    void write(int64_t total)
    {
        int64_t written = 0;
        for (int session = 0; written < total; ++session) {
            startSession(session);
            const int64_t length = 200 + int64_t(m_random() % 600);
            line("990007", "打开软件", "特殊功能", "", "", "", "", "", "");
            line("990001", "启动软件", "特殊功能", "", "", "", "", "", "");
            const std::string project = "prj-" + std::to_string(session % 200);
            line("990004", "打开工程", "特殊功能", project.c_str(), "", "", "", "", "");
            for (int64_t i = 5; i < length && written + m_seq < total; ++i) {
                const Command &c = commands[m_random() % (sizeof commands / sizeof *commands)];
                const unsigned pick = m_random() % 10;
                if (pick < 6) {
                    line(c.code, c.name, c.group, "", "", "", "", "location",
                         locations[m_random() % (sizeof locations / sizeof *locations)]);
                } else if (pick < 8) {
                    line(c.code, c.name, c.group, "", "", "", "", "layer", "A-WALL-EXTERIOR-240");
                } else if (pick < 9) {
                    const char *p = properties[m_random() % 4];
                    const std::string name = std::string("墙") + std::to_string(i) + "-属性-" + p;
                    line("210210", name.c_str(), "null", "", "", "", "", p, "240");
                } else {
                    line("990005", "保存工程", "特殊功能", project.c_str(), "12", "345", "", "", "");
                }
            }
            line("990006", "关闭工程", "特殊功能", project.c_str(), "12", "345", "1800", "", "");
            line("990002", "关闭软件", "特殊功能", "", "", "", "3600", "", "");
            written += m_seq;
        }
    }

private:
    void startSession(int session)
    {
        m_seq = 0;
        std::snprintf(m_session, sizeof m_session, "%08x-1c2d-4e5f-8a9b-%012x", unsigned(session * 2654435761u), session);
        const unsigned machine = unsigned(session % 300);
        std::snprintf(m_machine, sizeof m_machine, "%016x%016x%016x%016x", machine, machine * 7u, machine * 13u, machine * 31u);
        m_ver = session % 3 ? "2.1.0" : "2.0.4";
        m_day = 1 + session % 28;
        m_seconds = 8 * 3600 + (session % 20) * 600;
    }

    void line(const char *code, const char *name, const char *group, const char *project, const char *edits,
              const char *size, const char *duration, const char *key, const char *value)
    {
        ++m_seq;
        m_seconds += 1 + m_random() % 20;
        char time[40];
        std::snprintf(time, sizeof time, "2026-11-%02dT%02d:%02d:%02d.%03u+08:00", m_day, int(m_seconds / 3600 % 24),
                      int(m_seconds / 60 % 60), int(m_seconds % 60), unsigned(m_random() % 1000));
        std::fprintf(m_out,
                     "{\"pcode\":\"KELDEMO\",\"fncode\":\"%s\",\"fnname\":\"%s\",\"fngroup\":\"%s\",\"trigertime\":\"%s\","
                     "\"gid\":\"%s\",\"vername\":\"KelStructureDesigner\",\"ver\":\"%s\",\"ver2\":\"5.15.8\",\"debug\":\"0\","
                     "\"usetype\":\"professional\",\"utype\":\"enterprise\",\"mac\":\"\",\"hardwareid\":\"%s\",\"ip\":\"\",\"projectid\":\"%s\","
                     "\"prjfullpath\":\"\",\"prjtext\":\"\",\"prjedocnt\":\"%s\",\"prjsize\":\"%s\",\"prjcost\":\"\","
                     "\"regionrule\":\"GB50500-2013\",\"major\":\"结构\",\"duration\":\"%s\",\"sessionid\":\"%s\",\"seq\":%" PRId64 ",",
                     code, name, group, time, m_machine, m_ver, m_machine, project, edits, size, duration, m_session, m_seq);
        if (m_rows) {
            // UTC: the local times above are at +08:00.
            const int64_t utc = m_seconds - 8 * 3600;
            const int day = m_day + int(utc < 0 ? -1 : 0) + int(utc / 86400);
            const int64_t s = (utc % 86400 + 86400) % 86400;
            std::fprintf(m_out, "\"attrs.key\":[%s%s%s],\"attrs.value\":[%s%s%s],\"time\":\"2026-11-%02d %02d:%02d:%02d\"}\n",
                         *key ? "\"" : "", key, *key ? "\"" : "", *key ? "\"" : "", value, *key ? "\"" : "",
                         day, int(s / 3600), int(s / 60 % 60), int(s % 60));
        } else if (*key) {
            std::fprintf(m_out, "\"attrs\":{\"%s\":\"%s\"}}\n", key, value);
        } else {
            std::fputs("\"attrs\":{}}\n", m_out);
        }
    }

    std::FILE *m_out;
    bool m_rows;
    std::mt19937 m_random{12345};
    int64_t m_seq = 0;
    char m_session[48] = {}, m_machine[72] = {};
    const char *m_ver = "";
    int m_day = 1;
    int64_t m_seconds = 0;
};

bool generate(const char *path, int64_t records, bool rows)
{
    std::FILE *f = std::fopen(path, "w");
    if (!f)
        return false;
    LogWriter(f, rows).write(records);
    return std::fclose(f) == 0;
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

#include "RecordGenerator.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QFile>
#include <QtCore/QUuid>

#include <deque>
#include <random>

namespace {

struct Command
{
    const char *code, *name, *group;
};

const char *const actionCodes[][3] = {
    {"210101", "绘制墙", "Ribbon工具栏"}, {"210102", "复制", "右键"},
    {"210201", "三维视图", "视图面板"}, {"210301", "撤销", "快捷键"},
    {"210302", "重做", "Ribbon快捷栏"}, {"210401", "计算工程量", "快捷键"}};

const Command sessionCommands[] = {
    {"210101", "绘制墙", "绘图"}, {"210102", "绘制柱", "绘图"}, {"210103", "绘制梁", "绘图"},
    {"210104", "绘制板", "绘图"}, {"210201", "偏移", "编辑"}, {"210202", "复制", "编辑"},
    {"210204", "移动", "编辑"}, {"210209", "删除", "编辑"}, {"210302", "三维视图", "视图"},
    {"210303", "平面视图", "视图"}, {"210401", "图层管理器", "图层"}, {"210501", "计算工程量", "计算"},
    {"210601", "导出报表", "报表"}, {"213037", "重做", "编辑"}, {"210801", "尺寸标注", "标注"},
};
const char *const sessionLocations[] = {"Ribbon工具栏", "Ribbon工具栏", "Ribbon工具栏", "Ribbon快捷栏",
                                        "右键", "视图面板", "快捷键", ""};
const char *const sessionProperties[] = {"厚度", "高度", "材质", "标高"};

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

QString two(qint64 v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

struct RecordGenerator::State
{
    Options options;
    qint64 made = 0;
    UbcDataProtocol record;
    std::deque<QByteArray> pending; // lines of the session under way (Sessions)

    // Actions
    qint64 perMachine = 1;

    // Sessions
    std::mt19937 random{12345};
    int session = 0;
    quint64 seq = 0;
    int day = 1;
    qint64 seconds = 0;

    void addLine(quint64 seq);
    void action(qint64 i);
    void startSession();
    void sessionLine(const char *code, const char *name, const char *group, const QString &project,
                     const char *edits, const char *size, const char *duration, const char *key, const char *value);
    void fillSession();
};

void RecordGenerator::State::addLine(quint64 lineSeq)
{
    const QByteArray line = RuvUbc::toJsonLine(record, lineSeq);
    pending.push_back(options.withSeq ? line : withoutSeq(line));
}

void RecordGenerator::State::action(qint64 i)
{
    if (i % perMachine == 0) {
        record.sessionid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (options.machines > 1)
            record.gid = record.hardwareid = QString::fromLatin1(
                    QCryptographicHash::hash(QByteArray::number(i / perMachine), QCryptographicHash::Sha256).toHex());
    }
    const auto &code = actionCodes[i % 6];
    record.fncode = u(code[0]);
    record.fnname = u(code[1]);
    record.fngroup = QStringLiteral("绘图");
    record.trigertime = QStringLiteral("2026-12-05T16:%1:%2.%3+08:00")
                                .arg(two(i / 60000 % 60), two(i / 1000 % 60))
                                .arg(i % 1000, 3, 10, QLatin1Char('0'));
    record.attrs = {{QStringLiteral("location"), u(code[2])}, {QStringLiteral("layer"), QStringLiteral("结构")}};
    addLine(quint64(i % perMachine + 1));
}

void RecordGenerator::State::startSession()
{
    seq = 0;
    const unsigned machine = unsigned(session % 300);
    record = UbcDataProtocol();
    record.pcode = QStringLiteral("KELDEMO");
    record.vername = QStringLiteral("KelStructureDesigner");
    record.ver = session % 3 ? QStringLiteral("2.1.0") : QStringLiteral("2.0.4");
    record.ver2 = QStringLiteral("5.15.8");
    record.debug = QStringLiteral("0");
    record.usetype = QStringLiteral("professional");
    record.utype = QStringLiteral("enterprise");
    record.regionrule = QStringLiteral("GB50500-2013");
    record.major = QStringLiteral("结构");
    record.sessionid = QStringLiteral("%1-1c2d-4e5f-8a9b-%2")
                               .arg(unsigned(session) * 2654435761u, 8, 16, QLatin1Char('0'))
                               .arg(session, 12, 16, QLatin1Char('0'));
    record.gid = record.hardwareid = QStringLiteral("%1%2%3%4")
                                             .arg(machine, 16, 16, QLatin1Char('0'))
                                             .arg(machine * 7u, 16, 16, QLatin1Char('0'))
                                             .arg(machine * 13u, 16, 16, QLatin1Char('0'))
                                             .arg(machine * 31u, 16, 16, QLatin1Char('0'));
    day = 1 + session % 28;
    seconds = 8 * 3600 + (session % 20) * 600;
}

void RecordGenerator::State::sessionLine(const char *code, const char *name, const char *group,
                                         const QString &project, const char *edits, const char *size,
                                         const char *duration, const char *key, const char *value)
{
    seconds += 1 + random() % 20;
    record.fncode = u(code);
    record.fnname = u(name);
    record.fngroup = u(group);
    record.trigertime = QStringLiteral("2026-11-%1T%2:%3:%4.%5+08:00")
                                .arg(two(day), two(seconds / 3600 % 24), two(seconds / 60 % 60), two(seconds % 60))
                                .arg(random() % 1000, 3, 10, QLatin1Char('0'));
    record.projectid = project;
    record.prjedocnt = u(edits);
    record.prjsize = u(size);
    record.duration = u(duration);
    record.attrs.clear();
    if (*key)
        record.attrs.insert(u(key), u(value));
    addLine(++seq);
}

// One session's lines: the application and a project opened, actions, edits
// and saves, the project and the application closed.
void RecordGenerator::State::fillSession()
{
    startSession();
    const int length = 200 + int(random() % 600);
    const QString project = QStringLiteral("prj-%1").arg(session % 200);
    sessionLine("990007", "打开软件", "特殊功能", QString(), "", "", "", "", "");
    sessionLine("990001", "启动软件", "特殊功能", QString(), "", "", "", "", "");
    sessionLine("990004", "打开工程", "特殊功能", project, "", "", "", "", "");
    for (int i = 5; i < length; ++i) {
        const Command &c = sessionCommands[random() % (sizeof sessionCommands / sizeof *sessionCommands)];
        const unsigned pick = random() % 10;
        if (pick < 6) {
            sessionLine(c.code, c.name, c.group, QString(), "", "", "", "location",
                        sessionLocations[random() % (sizeof sessionLocations / sizeof *sessionLocations)]);
        } else if (pick < 8) {
            sessionLine(c.code, c.name, c.group, QString(), "", "", "", "layer", "A-WALL-EXTERIOR-240");
        } else if (pick < 9) {
            const char *p = sessionProperties[random() % 4];
            const QByteArray name = "墙" + QByteArray::number(i) + "-属性-" + p;
            sessionLine("210210", name.constData(), "null", QString(), "", "", "", p, "240");
        } else {
            sessionLine("990005", "保存工程", "特殊功能", project, "12", "345", "", "", "");
        }
    }
    sessionLine("990006", "关闭工程", "特殊功能", project, "12", "345", "1800", "", "");
    sessionLine("990002", "关闭软件", "特殊功能", QString(), "", "", "3600", "", "");
    ++session;
}

RecordGenerator::RecordGenerator(const Options &options) : d(new State)
{
    d->options = options;
    d->record = options.base;
    d->perMachine = qMax<qint64>(1, (options.count + options.machines - 1) / qMax(options.machines, 1));
    if (options.profile == Actions) {
        d->record.prjfullpath = QStringLiteral("/home/user/projects/demo.kelprj");
        d->record.projectid = QStringLiteral("demo");
    }
}

RecordGenerator::~RecordGenerator() = default;

bool RecordGenerator::next(QByteArray &out)
{
    if (d->made == d->options.count)
        return false;
    if (d->pending.empty()) {
        if (d->options.profile == Actions)
            d->action(d->made);
        else
            d->fillSession();
    }
    out += d->pending.front();
    d->pending.pop_front();
    ++d->made;
    return true;
}

bool RecordGenerator::appendTo(const QString &path, const Options &options)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    RecordGenerator generator(options);
    QByteArray chunk;
    while (generator.next(chunk)) {
        if (chunk.size() > (1 << 22)) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size() && file.flush();
}

QByteArray RecordGenerator::withoutSeq(const QByteArray &line)
{
    // Strings hold no raw quote, so the first "," "seq": is the member's.
    const int at = line.indexOf("\",\"seq\":");
    if (at < 0)
        return line;
    const int end = line.indexOf(',', at + 8);
    QByteArray out = line;
    out.remove(at + 1, end - at - 1);
    return out;
}

#include "CommandTable.h"

namespace {

HostCommand command(const char *id, const char *code, const char *zh, const char *en,
                    const QKeySequence &shortcut = QKeySequence())
{
    return {QString::fromLatin1(id), QString::fromLatin1(code), QString::fromUtf8(zh),
            QString::fromUtf8(en), shortcut};
}

QVector<HostCommand> makeTable()
{
    return {
        command("new", "210701", "新建工程", "New project", QKeySequence::New),
        command("open", "210702", "打开工程", "Open project", QKeySequence::Open),
        command("save", "210703", "保存工程", "Save project", QKeySequence::Save),
        command("close", "", "关闭工程", "Close project"),
        command("exit", "", "退出", "Exit", QKeySequence(Qt::CTRL | Qt::Key_Q)),
        command("wall", "210101", "绘制墙", "Wall"),
        command("column", "210102", "绘制柱", "Column"),
        command("beam", "210103", "绘制梁", "Beam"),
        command("slab", "210104", "绘制板", "Slab"),
        command("offset", "210201", "偏移", "Offset"),
        command("copy", "210202", "复制", "Copy"),
        command("move", "210204", "移动", "Move"),
        command("delete", "210209", "删除", "Delete", QKeySequence(Qt::Key_Delete)),
        command("zoom", "210301", "缩放至全图", "Zoom extents"),
        command("view3d", "210302", "三维视图", "3D view"),
        command("plan", "210303", "平面视图", "Plan view"),
        command("layers", "210401", "图层管理器", "Layer manager"),
        command("quantities", "210501", "计算工程量", "Quantities", QKeySequence(Qt::Key_F9)),
        command("report", "210601", "导出报表", "Export report"),
        command("undo", "213036", "撤销", "Undo", QKeySequence::Undo),
        command("redo", "213037", "重做", "Redo", QKeySequence(Qt::CTRL | Qt::Key_Y)),
    };
}

} // namespace

const QVector<HostCommand> &CommandTable::all()
{
    static const QVector<HostCommand> table = makeTable();
    return table;
}

const HostCommand &CommandTable::byId(const QString &id)
{
    for (const HostCommand &c : all()) {
        if (c.id == id)
            return c;
    }
    qFatal("ubc-demo: no command %s", qPrintable(id));
}

#include "RibbonBar.h"
#include "RibbonButton.h"

#include <QAction> // QtWidgets in Qt 5, QtGui in Qt 6
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

namespace {

struct Group
{
    const char *zh;
    const char *en;
    QStringList ids;
};

QString text(UiLanguage language, const char *zh, const char *en)
{
    return QString::fromUtf8(language == UiLanguage::English ? en : zh);
}

} // namespace

RibbonBar::RibbonBar(const QHash<QString, QAction *> &actions, UiLanguage language, QWidget *parent)
    : QWidget(parent)
{
    auto *quickRow = new QHBoxLayout;
    quickRow->setContentsMargins(0, 0, 0, 0);
    for (const char *id : {"save", "undo", "redo"}) {
        auto *quick = new QToolButton(this);
        quick->setDefaultAction(actions.value(QLatin1String(id)));
        quick->setAutoRaise(true);
        quickRow->addWidget(quick);
        m_quickButtons.insert(QLatin1String(id), quick);
    }
    quickRow->addStretch();

    const QVector<Group> groups = {
        {"文件", "File", {QStringLiteral("new"), QStringLiteral("open"), QStringLiteral("save"),
                          QStringLiteral("close"), QStringLiteral("exit")}},
        {"绘图", "Draw", {QStringLiteral("wall"), QStringLiteral("column"), QStringLiteral("beam"),
                          QStringLiteral("slab")}},
        {"编辑", "Modify", {QStringLiteral("offset"), QStringLiteral("move"), QStringLiteral("delete")}},
        {"视图", "View", {QStringLiteral("layers")}},
        {"计算", "Calculate", {QStringLiteral("quantities"), QStringLiteral("report")}},
    };
    auto *groupRow = new QHBoxLayout;
    groupRow->setContentsMargins(0, 0, 0, 0);
    for (const Group &g : groups) {
        auto *box = new QGroupBox(text(language, g.zh, g.en), this);
        auto *row = new QHBoxLayout(box);
        row->setContentsMargins(4, 2, 4, 2);
        for (const QString &id : g.ids) {
            auto *button = new Qtitan::RibbonButton(actions.value(id), box);
            row->addWidget(button);
            m_buttons.insert(id, button);
        }
        groupRow->addWidget(box);
    }

    auto *context = new QGroupBox(text(language, "当前", "Current"), this);
    auto *form = new QFormLayout(context);
    form->setContentsMargins(4, 2, 4, 2);
    m_major = new QComboBox(context);
    m_major->addItems({text(language, "建筑", "Architecture"), text(language, "结构", "Structure")});
    m_layer = new QComboBox(context);
    m_layer->addItems({QStringLiteral("0"), QStringLiteral("A-WALL"), QStringLiteral("S-COLU"),
                       QStringLiteral("S-BEAM")});
    m_region = new QComboBox(context);
    m_region->addItems({text(language, "一区", "Zone 1"), text(language, "二区", "Zone 2")});
    form->addRow(text(language, "专业", "Major"), m_major);
    form->addRow(text(language, "图层", "Layer"), m_layer);
    form->addRow(text(language, "区域", "Region"), m_region);
    groupRow->addWidget(context);
    groupRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addLayout(quickRow);
    layout->addLayout(groupRow);
}

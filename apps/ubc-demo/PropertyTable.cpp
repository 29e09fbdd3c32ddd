#include "PropertyTable.h"
#include "DemoProject.h"

#include <QtWidgets/QHeaderView>

PropertyTable::PropertyTable(UiLanguage language, QWidget *parent)
    : QTableWidget(0, 2, parent)
{
    const bool english = language == UiLanguage::English;
    setHorizontalHeaderLabels({english ? QStringLiteral("Property") : QStringLiteral("属性"),
                               english ? QStringLiteral("Value") : QStringLiteral("值")});
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    connect(this, &QTableWidget::itemChanged, this, &PropertyTable::onItemChanged);
}

void PropertyTable::showElement(const DemoElement *element)
{
    m_loading = true;
    m_element = element ? element->name : QString();
    setRowCount(element ? element->properties.size() : 0);
    for (int row = 0; element && row < element->properties.size(); ++row) {
        auto *name = new QTableWidgetItem(element->properties.at(row).first);
        name->setFlags(Qt::ItemIsEnabled);
        setItem(row, 0, name);
        setItem(row, 1, new QTableWidgetItem(element->properties.at(row).second));
    }
    m_loading = false;
}

int PropertyTable::rowOf(const QString &property) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, 0) && item(row, 0)->text() == property)
            return row;
    }
    return -1;
}

void PropertyTable::onItemChanged(QTableWidgetItem *item)
{
    if (m_loading || item->column() != 1 || m_element.isEmpty())
        return;
    const QTableWidgetItem *name = this->item(item->row(), 0);
    if (name)
        emit propertyEdited(m_element, name->text(), item->text());
}

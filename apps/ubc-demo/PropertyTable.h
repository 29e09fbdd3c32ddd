#ifndef PROPERTYTABLE_H
#define PROPERTYTABLE_H

#include "CommandTable.h"

#include <QtWidgets/QTableWidget>

struct DemoElement;

// The selected element's properties; the values can be edited in place.
class PropertyTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit PropertyTable(UiLanguage language, QWidget *parent = nullptr);

    void showElement(const DemoElement *element);
    int rowOf(const QString &property) const;

Q_SIGNALS:
    void propertyEdited(const QString &element, const QString &property, const QString &value);

private:
    void onItemChanged(QTableWidgetItem *item);

    QString m_element;
    bool m_loading = false;
};

#endif // PROPERTYTABLE_H

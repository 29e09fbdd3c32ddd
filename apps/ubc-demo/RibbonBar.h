#ifndef RIBBONBAR_H
#define RIBBONBAR_H

#include "CommandTable.h"

#include <QtCore/QHash>
#include <QtWidgets/QWidget>

class QAction;
class QComboBox;
class QToolButton;
namespace Qtitan { class RibbonButton; }

// The ribbon: a quick-access row of plain tool buttons above groups of
// ribbon buttons, and the boxes for the current major, layer and region.
class RibbonBar : public QWidget
{
    Q_OBJECT
public:
    RibbonBar(const QHash<QString, QAction *> &actions, UiLanguage language,
              QWidget *parent = nullptr);

    Qtitan::RibbonButton *button(const QString &id) const { return m_buttons.value(id); }
    QToolButton *quickButton(const QString &id) const { return m_quickButtons.value(id); }
    QComboBox *majorBox() const { return m_major; }
    QComboBox *layerBox() const { return m_layer; }
    QComboBox *regionBox() const { return m_region; }

private:
    QHash<QString, Qtitan::RibbonButton *> m_buttons;
    QHash<QString, QToolButton *> m_quickButtons;
    QComboBox *m_major;
    QComboBox *m_layer;
    QComboBox *m_region;
};

#endif // RIBBONBAR_H

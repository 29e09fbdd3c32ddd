#include "RibbonButton.h"

#include <QAction> // QtWidgets in Qt 5, QtGui in Qt 6

namespace Qtitan {

RibbonButton::RibbonButton(QAction *action, QWidget *parent)
    : QToolButton(parent)
{
    setDefaultAction(action);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setAutoRaise(true);
    setMinimumSize(64, 40);
    if (!action->shortcut().isEmpty())
        setToolTip(action->text() + QStringLiteral(" (")
                   + action->shortcut().toString(QKeySequence::NativeText) + QLatin1Char(')'));
}

} // namespace Qtitan

#ifndef RIBBONBUTTON_H
#define RIBBONBUTTON_H

#include <QtWidgets/QToolButton>

namespace Qtitan {

// A large command button of the ribbon. KelUbc recognises a press on it by
// this class name and reports the next command as coming from the ribbon.
class RibbonButton : public QToolButton
{
    Q_OBJECT
public:
    explicit RibbonButton(QAction *action, QWidget *parent = nullptr);
};

} // namespace Qtitan

#endif // RIBBONBUTTON_H

#ifndef FLOATWIDGET_H
#define FLOATWIDGET_H

#include <QtCore/QHash>
#include <QtWidgets/QFrame>

class QAction;
class QToolButton;

// The floating view panel over the drawing. It is a native child window and
// keeps an empty object name, so Qt names its window
// "RuvFloatWidgetClassWindow", the name KelUbc looks for.
class RuvFloatWidget : public QFrame
{
    Q_OBJECT
public:
    RuvFloatWidget(const QString &title, const QList<QAction *> &actions, QWidget *parent = nullptr);

    QToolButton *button(QAction *action) const { return m_buttons.value(action); }

private:
    QHash<QAction *, QToolButton *> m_buttons;
};

#endif // FLOATWIDGET_H

#include "FloatWidget.h"

#include <QAction> // QtWidgets in Qt 5, QtGui in Qt 6
#include <QtWidgets/QLabel>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

RuvFloatWidget::RuvFloatWidget(const QString &title, const QList<QAction *> &actions, QWidget *parent)
    : QFrame(parent)
{
    setAttribute(Qt::WA_NativeWindow);
    setFrameShape(QFrame::Panel);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(title, this));
    for (QAction *action : actions) {
        auto *button = new QToolButton(this);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        layout->addWidget(button);
        m_buttons.insert(action, button);
    }
}

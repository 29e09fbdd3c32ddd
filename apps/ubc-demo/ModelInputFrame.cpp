#include "ModelInputFrame.h"

#include <QtGui/QContextMenuEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QMenu>

namespace {

qreal distanceToSegment(const QPointF &p, const QLineF &line)
{
    const QPointF d = line.p2() - line.p1();
    const qreal lengthSquared = QPointF::dotProduct(d, d);
    qreal t = lengthSquared > 0 ? QPointF::dotProduct(p - line.p1(), d) / lengthSquared : 0;
    t = qBound<qreal>(0, t, 1);
    return QLineF(p, line.p1() + t * d).length();
}

// Qt 6 calls localPos() position().
QPointF localPosition(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}

} // namespace

RuvModelInputFrame::RuvModelInputFrame(QWidget *parent)
    : QFrame(parent),
      m_menu(new QMenu(this))
{
    setObjectName(QStringLiteral("modelInput"));
    setFrameShape(QFrame::StyledPanel);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(480, 320);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(30, 34, 40));
    setPalette(p);
}

void RuvModelInputFrame::setElements(const QVector<DemoElement> &elements, int selected)
{
    m_elements = elements;
    m_selected = selected;
    update();
}

void RuvModelInputFrame::setViewMode(const QString &mode)
{
    m_viewMode = mode;
    update();
}

void RuvModelInputFrame::beginPick(const QString &prompt)
{
    m_prompt = prompt;
    m_picking = true;
    m_haveFirstPoint = false;
    setCursor(Qt::CrossCursor);
    update();
}

void RuvModelInputFrame::cancelPick()
{
    m_picking = false;
    m_haveFirstPoint = false;
    unsetCursor();
    update();
}

void RuvModelInputFrame::setFloatPanel(QWidget *panel)
{
    m_panel = panel;
    placePanel();
}

int RuvModelInputFrame::elementAt(const QPointF &pos) const
{
    for (int i = m_elements.size() - 1; i >= 0; --i) {
        if (distanceToSegment(pos, m_elements.at(i).line) <= 6)
            return i;
    }
    return -1;
}

void RuvModelInputFrame::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < m_elements.size(); ++i) {
        const DemoElement &e = m_elements.at(i);
        painter.setPen(QPen(i == m_selected ? QColor(255, 200, 40) : QColor(200, 210, 220), 5));
        painter.drawLine(e.line);
        painter.setPen(QColor(150, 160, 170));
        painter.drawText(e.line.center() + QPointF(6, -8), e.name);
    }
    painter.setPen(QColor(150, 160, 170));
    painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignLeft | Qt::AlignBottom,
                     m_picking ? m_prompt : m_viewMode);
}

void RuvModelInputFrame::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QFrame::mousePressEvent(event);
        return;
    }
    if (!m_picking) {
        emit elementClicked(elementAt(localPosition(event)));
        return;
    }
    if (!m_haveFirstPoint) {
        m_firstPoint = localPosition(event);
        m_haveFirstPoint = true;
        return;
    }
    const QLineF line(m_firstPoint, localPosition(event));
    cancelPick();
    emit linePicked(line);
}

void RuvModelInputFrame::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_picking)
        return;
    emit elementClicked(elementAt(event->pos()));
    // popup, not exec: the session goes on in the application's own loop.
    m_menu->popup(event->globalPos());
}

void RuvModelInputFrame::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    placePanel();
}

void RuvModelInputFrame::placePanel()
{
    if (!m_panel)
        return;
    m_panel->adjustSize();
    m_panel->move(width() - m_panel->width() - 8, 8);
    m_panel->raise();
}

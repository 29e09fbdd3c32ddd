#ifndef MODELINPUTFRAME_H
#define MODELINPUTFRAME_H

#include "DemoProject.h"

#include <QtWidgets/QFrame>

class QMenu;

// The drawing area. Left clicks pick points or select elements; a right
// click opens the element menu, whose parent is this frame so that KelUbc
// can tell the context menu apart from other menus.
class RuvModelInputFrame : public QFrame
{
    Q_OBJECT
public:
    explicit RuvModelInputFrame(QWidget *parent = nullptr);

    QMenu *contextMenu() const { return m_menu; }
    void setElements(const QVector<DemoElement> &elements, int selected);
    void setViewMode(const QString &mode);
    // The next two left clicks give a line.
    void beginPick(const QString &prompt);
    void cancelPick();
    bool isPicking() const { return m_picking; }
    // A native child panel kept in the top right corner.
    void setFloatPanel(QWidget *panel);
    int elementAt(const QPointF &pos) const;

Q_SIGNALS:
    void linePicked(const QLineF &line);
    void elementClicked(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placePanel();

    QMenu *m_menu;
    QWidget *m_panel = nullptr;
    QVector<DemoElement> m_elements;
    int m_selected = -1;
    QString m_viewMode;
    QString m_prompt;
    bool m_picking = false;
    bool m_haveFirstPoint = false;
    QPointF m_firstPoint;
};

#endif // MODELINPUTFRAME_H

#ifndef SCENARIO_H
#define SCENARIO_H

#include <QtCore/QObject>
#include <QtCore/QPoint>
#include <QtCore/QTimer>
#include <QtCore/QVector>

#include <functional>

class MainWindow;
class QWidget;

// A scripted working session, played through real mouse and key events
// that enter Qt the way the window system delivers them. Each step runs from
// the event loop; the last one closes the window and so ends the run.
class Scenario : public QObject
{
    Q_OBJECT
public:
    explicit Scenario(MainWindow *window, QObject *parent = nullptr);

    void start();
    bool failed() const { return m_failed; }

private:
    struct Step
    {
        QString text;
        int delay; // ms of "user time" before the step
        std::function<bool()> act; // false: the application did not respond
    };

    void script();
    void add(const QString &text, const std::function<bool()> &act, int delay = 40);
    void runNext();
    void fail(const QString &why);

    void click(QWidget *widget, QPoint pos = QPoint(), Qt::MouseButton button = Qt::LeftButton);
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void type(const QString &text);
    void move(QWidget *widget, QPoint pos);

    MainWindow *m_window;
    QVector<Step> m_steps;
    int m_next = 0;
    bool m_failed = false;
    QTimer m_watchdog;
};

#endif // SCENARIO_H

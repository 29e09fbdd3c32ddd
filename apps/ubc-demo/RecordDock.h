#ifndef RECORDDOCK_H
#define RECORDDOCK_H

#include <QtWidgets/QDockWidget>

class QPlainTextEdit;
struct UbcDataProtocol;

// Shows each behaviour record as the log writes it.
class RecordDock : public QDockWidget
{
    Q_OBJECT
public:
    explicit RecordDock(const QString &title, QWidget *parent = nullptr);
    ~RecordDock() override;

    int recordCount() const { return m_count; }

private:
    void append(const QString &line);
    static QString describe(const UbcDataProtocol &record);

    QPlainTextEdit *m_view;
    int m_listener;
    int m_count = 0;
};

#endif // RECORDDOCK_H

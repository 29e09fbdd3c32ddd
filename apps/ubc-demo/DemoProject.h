#ifndef DEMOPROJECT_H
#define DEMOPROJECT_H

#include <QtCore/QLineF>
#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QVector>

struct DemoElement
{
    QString kind;  // id of the command that drew it
    QString name;  // as the user sees it, e.g. "墙1"
    QLineF line;
    QVector<QPair<QString, QString>> properties;
};

// The host's document: a drawing of elements, saved as a small JSON file.
// Every change counts as one edit and can be undone.
class DemoProject
{
public:
    bool isOpen() const { return !m_id.isEmpty(); }
    QString id() const { return m_id; }
    QString path() const { return m_path; }
    int editCount() const { return m_editCount; }
    qint64 savedRunningTime() const { return m_runningTime; }
    const QVector<DemoElement> &elements() const { return m_elements; }

    void create(const QString &path);
    bool load(const QString &path, QString *error);
    // Stores the project's running time (ms) with it; the file size is the
    // project size the host reports.
    bool save(qint64 runningTime, qint64 *size, QString *error);
    void close();

    // Each returns the index of the element it touched, or -1.
    int add(DemoElement element);
    int duplicate(int index, const QPointF &offset, const QString &name);
    int translate(int index, const QPointF &offset);
    int remove(int index);
    bool setProperty(int index, const QString &property, const QString &value);
    int nextNumber(const QString &kind) const;

    bool undo();
    bool redo();

private:
    using History = QVector<QVector<DemoElement>>;
    void beginEdit();
    bool stepBack(History &from, History &to);

    QString m_id;
    QString m_path;
    qint64 m_runningTime = 0;
    int m_editCount = 0;
    QVector<DemoElement> m_elements;
    History m_undo;
    History m_redo;
};

#endif // DEMOPROJECT_H

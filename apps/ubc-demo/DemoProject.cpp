#include "DemoProject.h"

#include "JsonObjectReader.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSaveFile>
#include <QtCore/QUuid>

void DemoProject::create(const QString &path)
{
    close();
    m_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_path = path;
}

bool DemoProject::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonObject root;
    if (!JsonObjectReader::read(file.readAll(), &root) || root.value(QStringLiteral("id")).toString().isEmpty()) {
        *error = QStringLiteral("not a demo project");
        return false;
    }
    close();
    m_path = path;
    m_id = root.value(QStringLiteral("id")).toString();
    m_runningTime = qint64(root.value(QStringLiteral("runningTime")).toDouble());
    m_editCount = root.value(QStringLiteral("editCount")).toInt();
    for (const QJsonValue &value : root.value(QStringLiteral("elements")).toArray()) {
        const QJsonObject o = value.toObject();
        DemoElement e;
        e.kind = o.value(QStringLiteral("kind")).toString();
        e.name = o.value(QStringLiteral("name")).toString();
        const QJsonArray line = o.value(QStringLiteral("line")).toArray();
        e.line = QLineF(line.at(0).toDouble(), line.at(1).toDouble(),
                        line.at(2).toDouble(), line.at(3).toDouble());
        for (const QJsonValue &p : o.value(QStringLiteral("properties")).toArray()) {
            const QJsonArray pair = p.toArray();
            e.properties.append({pair.at(0).toString(), pair.at(1).toString()});
        }
        m_elements.append(e);
    }
    return true;
}

bool DemoProject::save(qint64 runningTime, qint64 *size, QString *error)
{
    m_runningTime = runningTime;
    QJsonArray elements;
    for (const DemoElement &e : qAsConst(m_elements)) {
        QJsonArray properties;
        for (const auto &p : e.properties)
            properties.append(QJsonArray{p.first, p.second});
        elements.append(QJsonObject{
            {QStringLiteral("kind"), e.kind},
            {QStringLiteral("name"), e.name},
            {QStringLiteral("line"), QJsonArray{e.line.x1(), e.line.y1(), e.line.x2(), e.line.y2()}},
            {QStringLiteral("properties"), properties}});
    }
    const QJsonObject root{{QStringLiteral("id"), m_id},
                           {QStringLiteral("runningTime"), double(m_runningTime)},
                           {QStringLiteral("editCount"), m_editCount},
                           {QStringLiteral("elements"), elements}};
    QSaveFile file(m_path);
    const QByteArray bytes = QJsonDocument(root).toJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    *size = bytes.size();
    return true;
}

void DemoProject::close()
{
    *this = DemoProject();
}

void DemoProject::beginEdit()
{
    m_undo.append(m_elements);
    m_redo.clear();
    ++m_editCount;
}

int DemoProject::add(DemoElement element)
{
    beginEdit();
    m_elements.append(std::move(element));
    return m_elements.size() - 1;
}

int DemoProject::duplicate(int index, const QPointF &offset, const QString &name)
{
    if (index < 0 || index >= m_elements.size())
        return -1;
    DemoElement copy = m_elements.at(index);
    copy.name = name;
    copy.line.translate(offset);
    return add(copy);
}

int DemoProject::translate(int index, const QPointF &offset)
{
    if (index < 0 || index >= m_elements.size())
        return -1;
    beginEdit();
    m_elements[index].line.translate(offset);
    return index;
}

int DemoProject::remove(int index)
{
    if (index < 0 || index >= m_elements.size())
        return -1;
    beginEdit();
    m_elements.removeAt(index);
    return index;
}

bool DemoProject::setProperty(int index, const QString &property, const QString &value)
{
    if (index < 0 || index >= m_elements.size())
        return false;
    for (int i = 0; i < m_elements.at(index).properties.size(); ++i) {
        if (m_elements.at(index).properties.at(i).first == property) {
            beginEdit();
            m_elements[index].properties[i].second = value;
            return true;
        }
    }
    return false;
}

int DemoProject::nextNumber(const QString &kind) const
{
    int highest = 0;
    for (const DemoElement &e : m_elements) {
        if (e.kind != kind)
            continue;
        int digits = e.name.size();
        while (digits > 0 && e.name.at(digits - 1).isDigit())
            --digits;
        highest = qMax(highest, QStringView(e.name).mid(digits).toInt());
    }
    return highest + 1;
}

bool DemoProject::undo()
{
    return stepBack(m_undo, m_redo);
}

bool DemoProject::redo()
{
    return stepBack(m_redo, m_undo);
}

// Restores the newest state of from; the current one goes onto to.
bool DemoProject::stepBack(History &from, History &to)
{
    if (from.isEmpty())
        return false;
    to.append(m_elements);
    m_elements = from.takeLast();
    ++m_editCount;
    return true;
}

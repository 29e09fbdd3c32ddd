#include "DemoProject.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSaveFile>
#include <QtCore/QUuid>

#include <simdjson.h>

namespace {

// Members as Qt's JSON classes read them: a missing or mistyped value reads
// as empty or zero.
using Value = simdjson::simdjson_result<simdjson::dom::element>;

QString text(Value v)
{
    std::string_view s;
    return v.get_string().get(s) ? QString() : QString::fromUtf8(s.data(), int(s.size()));
}

double number(Value v)
{
    double d;
    return v.get_double().get(d) ? 0 : d;
}

// An array's items; none for anything else.
QVector<Value> items(Value v)
{
    QVector<Value> result;
    simdjson::dom::array a;
    if (!v.get_array().get(a))
        for (simdjson::dom::element e : a)
            result.append(Value(std::move(e)));
    return result;
}

} // namespace

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
    // simdjson, not Qt's parser, which leaks on a key repeated in a file
    // that the demo did not necessarily write.
    const QByteArray bytes = file.readAll();
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(bytes.constData(), size_t(bytes.size())).get_object().get(root) || text(root["id"]).isEmpty()) {
        *error = QStringLiteral("not a demo project");
        return false;
    }
    close();
    m_path = path;
    m_id = text(root["id"]);
    m_runningTime = qint64(number(root["runningTime"]));
    m_editCount = int(number(root["editCount"]));
    for (Value o : items(root["elements"])) {
        DemoElement e;
        e.kind = text(o["kind"]);
        e.name = text(o["name"]);
        const QVector<Value> line = items(o["line"]);
        auto at = [&line](int i) { return line.size() > i ? number(line[i]) : 0.0; };
        e.line = QLineF(at(0), at(1), at(2), at(3));
        for (const Value &p : items(o["properties"])) {
            const QVector<Value> pair = items(p);
            e.properties.append({pair.size() > 0 ? text(pair[0]) : QString(), pair.size() > 1 ? text(pair[1]) : QString()});
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

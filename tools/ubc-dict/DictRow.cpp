#include "DictRow.h"

QString DictRow::columnName(int column)
{
    switch (column) {
    case Code: return QStringLiteral("fncode");
    case Name: return QStringLiteral("fnName");
    case Group: return QStringLiteral("fnGroup");
    case AttrNames: return QStringLiteral("fnAttrName");
    case AddLayer: return QStringLiteral("fnAddLayer");
    case AddRegion: return QStringLiteral("fnAddRegion");
    }
    return QString();
}

QStringList DictRow::columnNames()
{
    QStringList names;
    for (int c = 0; c < ColumnCount; ++c)
        names << columnName(c);
    return names;
}

QString DictRow::origin() const
{
    return line > 0 ? QStringLiteral("line %1").arg(line) : QStringLiteral("row %1").arg(rowId);
}

#ifndef COMMANDTABLE_H
#define COMMANDTABLE_H

#include <QtCore/QString>
#include <QtCore/QVector>
#include <QtGui/QKeySequence>

enum class UiLanguage { Chinese, English };

// One command of the demo host. The code is a function code of the sample
// dictionary; project commands report through the project records instead,
// and the two commands the dictionary has no row for carry none.
struct HostCommand
{
    QString id;
    QString code;
    QString zh;
    QString en;
    QKeySequence shortcut;

    QString name(UiLanguage language) const { return language == UiLanguage::English ? en : zh; }
};

class CommandTable
{
public:
    static const QVector<HostCommand> &all();
    // Aborts on an unknown id: the ids are the demo's own constants.
    static const HostCommand &byId(const QString &id);
};

#endif // COMMANDTABLE_H

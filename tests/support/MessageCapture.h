#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QtGlobal>

// Collects Qt messages, with their context, while it lives. Create it in
// initTestCase: QtTest installs its own handler before that.
class MessageCapture
{
public:
    struct Message
    {
        QtMsgType type;
        QString text;
        QString file;
        int line;
        QString function;
        QString category;
    };

    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handler); }
    ~MessageCapture() { qInstallMessageHandler(previous); }

    static QList<Message> &messages()
    {
        static QList<Message> list;
        return list;
    }
    static QStringList texts(QtMsgType type)
    {
        QStringList out;
        for (const Message &m : messages())
            if (m.type == type)
                out << m.text;
        return out;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        messages().append({type, text, QString::fromUtf8(context.file), context.line,
                           QString::fromUtf8(context.function), QString::fromUtf8(context.category)});
    }
    QtMessageHandler previous;
};

#endif

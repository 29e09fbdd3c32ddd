#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include <QtCore/QList>
#include <QtCore/QMutex>
#include <QtCore/QString>
#include <QtCore/QtGlobal>

// Collects Qt messages, with their context, while it lives. Create it in
// initTestCase: QtTest installs its own handler before that. texts() and
// clear() may run while other threads log; messages() only when none does.
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
    // The texts of one type, of one category if given.
    static QStringList texts(QtMsgType type, const char *category = nullptr)
    {
        QMutexLocker lock(&mutex());
        QStringList out;
        for (const Message &m : messages())
            if (m.type == type && (!category || m.category == QLatin1String(category)))
                out << m.text;
        return out;
    }
    static void clear()
    {
        QMutexLocker lock(&mutex());
        messages().clear();
    }

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        QMutexLocker lock(&mutex());
        messages().append({type, text, QString::fromUtf8(context.file), context.line,
                           QString::fromUtf8(context.function), QString::fromUtf8(context.category)});
    }
    QtMessageHandler previous;
};

#endif

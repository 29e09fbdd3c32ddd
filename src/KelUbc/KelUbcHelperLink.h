#ifndef KELUBCHELPERLINK_H
#define KELUBCHELPERLINK_H

//
//  W A R N I N G
//  -------------
// Not part of the public API; may change from version to version.
//

#include <QtCore/QMap>
#include <QtCore/QMetaMethod>
#include <QtCore/QPointer>
#include <QtCore/QString>

class QCoreApplication;

// The way to the host's helper object, the application property
// "RuvUbcHelper": the helper and its methods are found once and kept until
// the property changes (reset()) or the helper is destroyed. A method the
// helper lacks is asked for by name at each call, so that Qt says why.
class KelUbcHelperLink
{
public:
    enum Method { SendCode, SendAttributes, RecordTime, MethodCount };

    // Keeps what it found only while app is the running application, whose
    // property changes its owner passes on to reset().
    void watch(const QCoreApplication *app) { m_watched = app; reset(); }
    void reset() { m_resolved = false; }

    // attributes: the map for SendAttributes, unused otherwise.
    void invoke(Method method, quint64 code, const QMap<QString, QString> *attributes = nullptr);

private:
    QObject *helper();
    void resolve();
    static QObject *readProperty(const QCoreApplication *app);

    const QCoreApplication *m_watched = nullptr;
    bool m_resolved = false;
    bool m_cacheable = false;
    const void *m_published = nullptr; // the object the property named when resolved
    QPointer<QObject> m_helper;
    QMetaMethod m_methods[MethodCount];
};

#endif // KELUBCHELPERLINK_H

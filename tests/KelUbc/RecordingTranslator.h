#ifndef RECORDINGTRANSLATOR_H
#define RECORDINGTRANSLATOR_H

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QMap>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtCore/QStringDecoder>
#else
#include <QtCore/QTextCodec>
#endif
#include <QtCore/QTranslator>

// Records the raw source bytes handed to translate() and answers with the
// GBK-decoded text, or with an override set by the test.
class RecordingTranslator : public QTranslator
{
public:
    struct Request
    {
        QByteArray context;
        QByteArray source;
        bool disambiguationNull;
        int n;
    };

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation, int n) const override
    {
        requests.append({context, sourceText, disambiguation == nullptr, n});
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        const QString decoded = QStringDecoder("GBK").decode(QByteArrayView(sourceText));
#else
        const QString decoded = QTextCodec::codecForName("GBK")->toUnicode(sourceText);
#endif
        return overrides.value(decoded, decoded);
    }
    bool isEmpty() const override { return false; }

    mutable QList<Request> requests;
    QMap<QString, QString> overrides; // decoded source text -> answer
};

#endif

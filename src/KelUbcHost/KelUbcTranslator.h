#ifndef KELUBCTRANSLATOR_H
#define KELUBCTRANSLATOR_H

#include "KelUbcHostGlobal.h"

#include <QtCore/QTranslator>

class KelUbcTranslatorPrivate;

// Readable labels for KelUbc's records. The library hands its labels to
// translate() GBK-encoded under the context "KelUbc"; without a translator a
// host gets garbled text. Install one on the application:
//
//     app.installTranslator(new KelUbcTranslator(KelUbcTranslator::English, &app));
//
// Chinese gives the labels decoded from GBK; English gives English labels.
// Other contexts are left to the host's other translators.
class KELUBCHOST_EXPORT KelUbcTranslator : public QTranslator
{
    Q_OBJECT
public:
    enum Language { Chinese, English };

    explicit KelUbcTranslator(Language language = Chinese, QObject *parent = nullptr);
    ~KelUbcTranslator() override;

    Language language() const;
    void setLanguage(Language language);

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override;

private:
    Q_DISABLE_COPY(KelUbcTranslator)
    KelUbcTranslatorPrivate *d;
};

#endif // KELUBCTRANSLATOR_H

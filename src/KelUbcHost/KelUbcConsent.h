#ifndef KELUBCCONSENT_H
#define KELUBCCONSENT_H

#include "KelUbcHostGlobal.h"

#include <QtCore/QObject>
#include <QtCore/QString>

class KelUbcConsentPrivate;

// The person's choice about uploading behaviour records, kept in QSettings
// under "KelUbc/uploadConsent" ("granted" or "refused"; absent while never
// asked). Upload runs only while it is granted:
//
//     KelUbcConsent consent;
//     if (consent.choice() == KelUbcConsent::Unasked)
//         KelUbcConsentDialog::ask(&consent, &window);   // KelUbc::KelUbcHostWidgets
//     uploader->setConsentGiven(consent.isGranted());
//     QObject::connect(&consent, &KelUbcConsent::choiceChanged, uploader,
//                      [uploader](KelUbcConsent::Choice c) { uploader->setConsentGiven(c == KelUbcConsent::Granted); });
//
// The prompt's texts are translated under the context "KelUbcConsent";
// KelUbcTranslator gives them in Chinese and English.
class KELUBCHOST_EXPORT KelUbcConsent : public QObject
{
    Q_OBJECT
public:
    enum Choice { Unasked, Granted, Refused };
    Q_ENUM(Choice)

    // Default QSettings of the application (organisation and application name).
    explicit KelUbcConsent(QObject *parent = nullptr);
    // An INI file of the host's choosing.
    explicit KelUbcConsent(const QString &settingsFile, QObject *parent = nullptr);
    ~KelUbcConsent() override;

    Choice choice() const;
    bool isGranted() const { return choice() == Granted; }
    void setChoice(Choice choice); // stored at once; Unasked forgets it

    // The prompt, translated for the installed translators.
    static QString title();
    static QString question();
    static QString grantText();
    static QString refuseText();

Q_SIGNALS:
    void choiceChanged(KelUbcConsent::Choice choice);

private:
    Q_DISABLE_COPY(KelUbcConsent)
    KelUbcConsentPrivate *d;
};

#endif // KELUBCCONSENT_H

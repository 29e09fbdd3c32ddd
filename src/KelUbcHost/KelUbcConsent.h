#ifndef KELUBCCONSENT_H
#define KELUBCCONSENT_H

#include "KelUbcHostGlobal.h"

#include <QtCore/QObject>
#include <QtCore/QString>

class KelUbcConsentPrivate;

// The person's choice about usage data, one of three levels:
//   Off        nothing is written and nothing is sent;
//   LocalOnly  records are kept in files on this computer, nothing is sent;
//   Upload     records are kept and sent to the product team's server.
// Stored in QSettings under "KelUbc/consentLevel" ("off", "local", "upload";
// absent while never asked). A value stored by earlier versions under
// "KelUbc/uploadConsent" still counts: "granted" is Upload, "refused" LocalOnly.
//
// A machine-wide policy, in the system-scope settings of the application
// (on Linux /etc/xdg/<organization>/<application>.conf or
// /etc/xdg/<organization>.conf, on Windows the registry key
// HKEY_LOCAL_MACHINE/Software/<organization>/<application>), presets the level with
// "KelUbc/consentLevel" and fixes it with "KelUbc/consentLocked=true"; a locked
// level wins over the person's stored choice, which setLevel cannot change.
//
//     KelUbcConsent *consent = new KelUbcConsent(&app);
//     consent->governCollection();                 // RuvUbc writes only while the level allows
//     if (consent->needsAsking())
//         KelUbcConsentDialog::ask(consent, &window);   // KelUbc::KelUbcHostWidgets
//     uploader->setConsentGiven(consent->uploads());
//     QObject::connect(consent, &KelUbcConsent::levelChanged, uploader,
//                      [uploader, consent] { uploader->setConsentGiven(consent->uploads()); });
//
// The prompt's texts are translated under the context "KelUbcConsent";
// KelUbcTranslator gives them in Chinese and English.
class KELUBCHOST_EXPORT KelUbcConsent : public QObject
{
    Q_OBJECT
public:
    enum Level { Unasked, Off, LocalOnly, Upload };
    Q_ENUM(Level)

    // Default QSettings of the application (organisation and application name).
    explicit KelUbcConsent(QObject *parent = nullptr);
    // An INI file of the host's choosing for the person's choice.
    explicit KelUbcConsent(const QString &settingsFile, QObject *parent = nullptr);
    ~KelUbcConsent() override;

    // The locked policy level, else the stored choice, else the policy's
    // preset, else Unasked.
    Level level() const;
    bool isLocked() const;
    // True while there is neither a stored choice nor a locked policy.
    bool needsAsking() const;
    bool recordsLocally() const;
    bool uploads() const { return level() == Upload; }
    // Stored at once; Unasked forgets the choice. Nothing changes while locked.
    void setLevel(Level level);

    // From now on RuvUbc's collection switch follows the level: on for
    // LocalOnly and Upload, off for Off and Unasked.
    void governCollection();

    // The prompt, translated for the installed translators.
    static QString title();
    static QString intro();
    static QString levelText(Level level); // what the level keeps and sends
    static QString lockedText();

Q_SIGNALS:
    void levelChanged(KelUbcConsent::Level level);

private:
    Q_DISABLE_COPY(KelUbcConsent)
    KelUbcConsentPrivate *d;
};

#endif // KELUBCCONSENT_H

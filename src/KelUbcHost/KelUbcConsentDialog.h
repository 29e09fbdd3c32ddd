#ifndef KELUBCCONSENTDIALOG_H
#define KELUBCCONSENTDIALOG_H

#include "KelUbcConsent.h"

#if defined(KELUBCHOSTWIDGETS_LIBRARY)
#  define KELUBCHOSTWIDGETS_EXPORT Q_DECL_EXPORT
#else
#  define KELUBCHOSTWIDGETS_EXPORT Q_DECL_IMPORT
#endif

class QWidget;

// The consent prompt: asks whether behaviour records may be uploaded, in the
// language of the installed KelUbcTranslator, and stores the answer.
class KELUBCHOSTWIDGETS_EXPORT KelUbcConsentDialog
{
public:
    // Modal; closing the prompt without an answer refuses. Returns the choice.
    static KelUbcConsent::Choice ask(KelUbcConsent *consent, QWidget *parent = nullptr);
};

#endif // KELUBCCONSENTDIALOG_H

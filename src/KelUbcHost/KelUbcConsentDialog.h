#ifndef KELUBCCONSENTDIALOG_H
#define KELUBCCONSENTDIALOG_H

#include "KelUbcConsent.h"
#include "KelUbcHostWidgetsGlobal.h"

class QWidget;

// The consent prompt: the three levels, each with what it keeps and sends, in
// the language of the installed KelUbcTranslator. A locked machine policy is
// shown as the one choice, with a note; the others cannot be picked.
class KELUBCHOSTWIDGETS_EXPORT KelUbcConsentDialog
{
public:
    // Modal; the level picked is stored. Closing the prompt without an answer
    // keeps what was stored; a prompt never answered leaves Unasked. Returns
    // the level in force afterwards.
    static KelUbcConsent::Level ask(KelUbcConsent *consent, QWidget *parent = nullptr);
};

#endif // KELUBCCONSENTDIALOG_H

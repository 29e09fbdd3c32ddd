#include "KelUbcConsentDialog.h"

#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

KelUbcConsent::Choice KelUbcConsentDialog::ask(KelUbcConsent *consent, QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, KelUbcConsent::title(), KelUbcConsent::question(),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("kelUbcConsentDialog"));
    QPushButton *grant = box.addButton(KelUbcConsent::grantText(), QMessageBox::AcceptRole);
    QPushButton *refuse = box.addButton(KelUbcConsent::refuseText(), QMessageBox::RejectRole);
    grant->setObjectName(QStringLiteral("grant"));
    refuse->setObjectName(QStringLiteral("refuse"));
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    const KelUbcConsent::Choice choice = box.clickedButton() == grant ? KelUbcConsent::Granted
                                                                      : KelUbcConsent::Refused;
    if (consent)
        consent->setChoice(choice);
    return choice;
}

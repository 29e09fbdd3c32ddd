#include "KelUbcConsentDialog.h"

#include <QtWidgets/QButtonGroup>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QVBoxLayout>

KelUbcConsent::Level KelUbcConsentDialog::ask(KelUbcConsent *consent, QWidget *parent)
{
    const KelUbcConsent::Level current = consent ? consent->level() : KelUbcConsent::Unasked;
    const bool locked = consent && consent->isLocked();

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("kelUbcConsentDialog"));
    dialog.setWindowTitle(KelUbcConsent::title());
    auto *layout = new QVBoxLayout(&dialog);
    auto *intro = new QLabel(KelUbcConsent::intro());
    intro->setWordWrap(true);
    layout->addWidget(intro);

    QButtonGroup levels;
    static const char *const names[] = {"", "off", "local", "upload"};
    for (int level = KelUbcConsent::Off; level <= KelUbcConsent::Upload; ++level) {
        auto *button = new QRadioButton;
        button->setObjectName(QLatin1String(names[level]));
        // Long texts wrap in a label beside the button. Both sit at the top
        // of their row, and the button is as tall as the text's first line
        // (measured unwrapped, so with the font that draws it: Chinese
        // glyphs come from a taller one): its indicator is centred on that
        // line, whatever the text's length or the row's height.
        auto *text = new QLabel(KelUbcConsent::levelText(KelUbcConsent::Level(level)));
        text->setWordWrap(true);
        text->setBuddy(button);
        button->setMinimumHeight(text->heightForWidth(QWIDGETSIZE_MAX));
        auto *row = new QHBoxLayout;
        row->addWidget(button, 0, Qt::AlignTop);
        row->addWidget(text, 1, Qt::AlignTop);
        layout->addLayout(row);
        levels.addButton(button, level);
        // Unasked preselects Off: nothing happens unless the person agrees.
        button->setChecked(level == current || (current == KelUbcConsent::Unasked && level == KelUbcConsent::Off));
        button->setEnabled(!locked || level == current);
        text->setEnabled(button->isEnabled());
    }
    if (locked) {
        auto *note = new QLabel(KelUbcConsent::lockedText());
        note->setObjectName(QStringLiteral("locked"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    // Height to spare goes below the levels, not between them.
    layout->addStretch(1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    // The wrapped texts need the height they take at this width, not at the
    // width the size hint was computed for (too short for the English texts,
    // too tall for the Chinese ones).
    constexpr int width = 520;
    dialog.resize(width, layout->totalHeightForWidth(width));

    const bool answered = dialog.exec() == QDialog::Accepted;
    const auto picked = KelUbcConsent::Level(levels.checkedId());
    if (!consent)
        return answered ? picked : current;
    if (answered)
        consent->setLevel(picked);
    return consent->level();
}

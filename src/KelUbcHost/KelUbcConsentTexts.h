#ifndef KELUBCCONSENTTEXTS_H
#define KELUBCCONSENTTEXTS_H

#include <QtCore/QString>

// The consent prompt's texts; English source, Chinese translation.
namespace KelUbcConsentTexts {
constexpr char Context[] = "KelUbcConsent";
// The Chinese for one of the prompt's source texts; null for any other text.
QString chinese(const char *sourceText);
}

#endif // KELUBCCONSENTTEXTS_H

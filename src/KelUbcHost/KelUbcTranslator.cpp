#include "KelUbcTranslator.h"

#include "KelUbcConsentTexts.h"

#include <KelUbcLabels.h>

#include <QtCore/QAtomicInt>
#include <QtCore/QTextCodec>

class KelUbcTranslatorPrivate
{
public:
    // Read from any thread that translates; set from the owner's.
    QAtomicInt language;
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
};

KelUbcTranslator::KelUbcTranslator(Language language, QObject *parent)
    : QTranslator(parent), d(new KelUbcTranslatorPrivate)
{
    d->language.storeRelaxed(language);
    if (!d->gbk)
        qWarning("KelUbcTranslator: no GBK codec; KelUbc labels stay untranslated");
}

KelUbcTranslator::~KelUbcTranslator()
{
    delete d;
}

KelUbcTranslator::Language KelUbcTranslator::language() const
{
    return Language(d->language.loadRelaxed());
}

void KelUbcTranslator::setLanguage(Language language)
{
    d->language.storeRelaxed(language);
}

QString KelUbcTranslator::translate(const char *context, const char *sourceText,
                                    const char *disambiguation, int n) const
{
    Q_UNUSED(disambiguation)
    Q_UNUSED(n)
    // The consent prompt's source texts are English.
    if (sourceText && qstrcmp(context, KelUbcConsentTexts::Context) == 0)
        return language() == English ? QString() : KelUbcConsentTexts::chinese(sourceText);
    // A null answer lets the application ask its other translators.
    if (!sourceText || !d->gbk || qstrcmp(context, "KelUbc") != 0)
        return QString();
    if (language() == English) {
        for (const KelUbcLabels::Text &label : KelUbcLabels::labelTexts)
            if (qstrcmp(sourceText, label.source) == 0)
                return QString::fromLatin1(label.english);
    }
    return d->gbk->toUnicode(sourceText);
}

bool KelUbcTranslator::isEmpty() const
{
    return false;
}

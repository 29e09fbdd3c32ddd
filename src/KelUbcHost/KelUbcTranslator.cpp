#include "KelUbcTranslator.h"

#include "KelUbcHostTexts.h"

#include <RecordFormat/RecordLabels.h>

#include <QtCore/QAtomicInt>
#include <QtCore/QLoggingCategory>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtCore/QStringDecoder>
#else
#include <QtCore/QTextCodec>
#endif

Q_LOGGING_CATEGORY(lcTranslator, "kelubc.translator")

namespace {

// Qt 6 has no QTextCodec in Core; its decoders reach GBK through ICU. Both
// give the same text for the same bytes.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
bool hasGbk()
{
    return QStringDecoder("GBK").isValid();
}

QString fromGbk(const char *text)
{
    // A decoder keeps conversion state: one per thread that translates.
#ifdef Q_OS_WIN
    // MinGW's thread_local destroys an object after freeing its storage.
    QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
#else
    thread_local QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
#endif
    return gbk.decode(QByteArrayView(text));
}
#else
bool hasGbk()
{
    return QTextCodec::codecForName("GBK") != nullptr;
}

QString fromGbk(const char *text)
{
    static QTextCodec *const gbk = QTextCodec::codecForName("GBK");
    return gbk->toUnicode(text);
}
#endif

} // namespace

class KelUbcTranslatorPrivate
{
public:
    // Read from any thread that translates; set from the owner's.
    QAtomicInt language;
    const bool gbk = hasGbk();
};

KelUbcTranslator::KelUbcTranslator(Language language, QObject *parent)
    : QTranslator(parent), d(new KelUbcTranslatorPrivate)
{
    d->language.storeRelaxed(language);
    if (!d->gbk)
        qCWarning(lcTranslator, "KelUbcTranslator: no GBK codec; KelUbc labels stay untranslated");
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
    // The host kit's own source texts are English.
    if (sourceText && context && language() == Chinese) {
        QString text = KelUbcHostTexts::chinese(context, sourceText);
        if (!text.isNull())
            return text;
    }
    // A null answer lets the application ask its other translators.
    if (!sourceText || !d->gbk || qstrcmp(context, "KelUbc") != 0)
        return QString();
    if (language() == English) {
        for (const RecordLabels::Text &label : RecordLabels::labelTexts)
            if (qstrcmp(sourceText, label.source) == 0)
                return QString::fromLatin1(label.english);
    }
    return fromGbk(sourceText);
}

bool KelUbcTranslator::isEmpty() const
{
    return false;
}

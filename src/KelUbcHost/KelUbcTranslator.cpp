#include "KelUbcTranslator.h"

#include "KelUbcConsentTexts.h"

#include <QtCore/QAtomicInt>
#include <QtCore/QTextCodec>

namespace {

struct LabelText
{
    const char16_t *chinese;
    const char *english;
};

const LabelText labelTexts[] = {
    {u"特殊功能", "Special function"},
    {u"启动软件", "Start software"},
    {u"打开软件", "Open software"},
    {u"关闭软件", "Close software"},
    {u"打开工程", "Open project"},
    {u"新建工程", "New project"},
    {u"保存工程", "Save project"},
    {u"关闭工程", "Close project"},
    {u"Ribbon工具栏", "Ribbon toolbar"},
    {u"右键", "Right-click menu"},
    {u"视图面板", "View panel"},
    {u"快捷键", "Shortcut key"},
    {u"Ribbon快捷栏", "Ribbon quick-access bar"},
    {u"属性", "Property"},
};

} // namespace

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
    QString chinese = d->gbk->toUnicode(sourceText); // not const: returned by move
    if (language() == English) {
        for (const LabelText &label : labelTexts)
            if (chinese == QStringView(label.chinese))
                return QString::fromLatin1(label.english);
    }
    return chinese;
}

bool KelUbcTranslator::isEmpty() const
{
    return false;
}

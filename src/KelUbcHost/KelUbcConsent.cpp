#include "KelUbcConsent.h"

#include "KelUbcConsentTexts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QSettings>

namespace {

constexpr char kTitle[] = "Share usage data?";
constexpr char kQuestion[] =
        "May this application send records of how you use it to the product team's server? "
        "They say which commands you use, from where and when, with a digest of this machine; "
        "never your files or your drawings. You can change your choice at any time.";
constexpr char kGrant[] = "Share";
constexpr char kRefuse[] = "Don't share";

struct Text
{
    const char *source;
    const char16_t *chinese;
};

const Text texts[] = {
    {kTitle, u"共享使用数据？"},
    {kQuestion, u"是否允许本软件将您的使用记录发送到产品团队的服务器？记录包括您使用了哪些命令、"
                u"从何处使用、何时使用，以及本机的摘要值；绝不包括您的文件或图纸。您可以随时更改此选择。"},
    {kGrant, u"共享"},
    {kRefuse, u"不共享"},
};

const QString key = QStringLiteral("KelUbc/uploadConsent");

} // namespace

QString KelUbcConsentTexts::chinese(const char *sourceText)
{
    for (const Text &text : texts)
        if (qstrcmp(sourceText, text.source) == 0)
            return QString::fromUtf16(text.chinese);
    return QString();
}

class KelUbcConsentPrivate
{
public:
    QString file; // empty: the application's default settings

    QSettings *settings() const
    {
        return file.isEmpty() ? new QSettings : new QSettings(file, QSettings::IniFormat);
    }
};

KelUbcConsent::KelUbcConsent(QObject *parent) : QObject(parent), d(new KelUbcConsentPrivate) {}

KelUbcConsent::KelUbcConsent(const QString &settingsFile, QObject *parent)
    : QObject(parent), d(new KelUbcConsentPrivate)
{
    d->file = settingsFile;
}

KelUbcConsent::~KelUbcConsent()
{
    delete d;
}

KelUbcConsent::Choice KelUbcConsent::choice() const
{
    QScopedPointer<QSettings> settings(d->settings());
    const QString value = settings->value(key).toString();
    if (value == QLatin1String("granted"))
        return Granted;
    if (value == QLatin1String("refused"))
        return Refused;
    return Unasked;
}

void KelUbcConsent::setChoice(Choice choice)
{
    if (choice == this->choice())
        return;
    {
        QScopedPointer<QSettings> settings(d->settings());
        if (choice == Unasked)
            settings->remove(key);
        else
            settings->setValue(key, choice == Granted ? QStringLiteral("granted") : QStringLiteral("refused"));
        settings->sync();
    }
    emit choiceChanged(choice);
}

QString KelUbcConsent::title()
{
    return QCoreApplication::translate(KelUbcConsentTexts::Context, kTitle);
}

QString KelUbcConsent::question()
{
    return QCoreApplication::translate(KelUbcConsentTexts::Context, kQuestion);
}

QString KelUbcConsent::grantText()
{
    return QCoreApplication::translate(KelUbcConsentTexts::Context, kGrant);
}

QString KelUbcConsent::refuseText()
{
    return QCoreApplication::translate(KelUbcConsentTexts::Context, kRefuse);
}

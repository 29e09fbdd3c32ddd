#include "KelUbcConsent.h"

#include "KelUbcHostTexts.h"

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QSettings>

namespace {

const QString levelKey = QStringLiteral("KelUbc/consentLevel");
const QString lockedKey = QStringLiteral("KelUbc/consentLocked");
const QString oldKey = QStringLiteral("KelUbc/uploadConsent");

const char *const levelNames[] = {"", "off", "local", "upload"};

KelUbcConsent::Level parseLevel(const QString &value)
{
    for (int level = KelUbcConsent::Off; level <= KelUbcConsent::Upload; ++level)
        if (value == QLatin1String(levelNames[level]))
            return KelUbcConsent::Level(level);
    return KelUbcConsent::Unasked;
}

QString translated(const char *text)
{
    return QCoreApplication::translate(KelUbcHostTexts::ConsentContext, text);
}

} // namespace

class KelUbcConsentPrivate
{
public:
    QString file; // empty: the application's default settings
    bool governing = false;

    QSettings *settings() const
    {
        return file.isEmpty() ? new QSettings : new QSettings(file, QSettings::IniFormat);
    }
    KelUbcConsent::Level stored() const
    {
        QScopedPointer<QSettings> s(settings());
        if (s->contains(levelKey))
            return parseLevel(s->value(levelKey).toString());
        const QString old = s->value(oldKey).toString();
        if (old == QLatin1String("granted"))
            return KelUbcConsent::Upload;
        return old == QLatin1String("refused") ? KelUbcConsent::LocalOnly : KelUbcConsent::Unasked;
    }
    // The machine's policy: its level and whether it is locked.
    KelUbcConsent::Level policy(bool *locked) const
    {
        const QSettings s(QSettings::SystemScope, QCoreApplication::organizationName(),
                          QCoreApplication::applicationName());
        const KelUbcConsent::Level level = parseLevel(s.value(levelKey).toString());
        *locked = level != KelUbcConsent::Unasked && s.value(lockedKey).toBool();
        return level;
    }
};

KelUbcConsent::KelUbcConsent(QObject *parent) : QObject(parent), d(new KelUbcConsentPrivate)
{
    qRegisterMetaType<KelUbcConsent::Level>();
}

KelUbcConsent::KelUbcConsent(const QString &settingsFile, QObject *parent)
    : KelUbcConsent(parent)
{
    d->file = settingsFile;
}

KelUbcConsent::~KelUbcConsent()
{
    delete d;
}

KelUbcConsent::Level KelUbcConsent::level() const
{
    bool locked = false;
    const Level policy = d->policy(&locked);
    if (locked)
        return policy;
    const Level stored = d->stored();
    return stored != Unasked ? stored : policy;
}

bool KelUbcConsent::isLocked() const
{
    bool locked = false;
    d->policy(&locked);
    return locked;
}

bool KelUbcConsent::needsAsking() const
{
    return !isLocked() && d->stored() == Unasked;
}

bool KelUbcConsent::recordsLocally() const
{
    const Level current = level();
    return current == LocalOnly || current == Upload;
}

void KelUbcConsent::setLevel(Level level)
{
    if (isLocked() || level == d->stored())
        return;
    const Level before = this->level();
    {
        QScopedPointer<QSettings> settings(d->settings());
        settings->remove(oldKey);
        if (level == Unasked)
            settings->remove(levelKey);
        else
            settings->setValue(levelKey, QLatin1String(levelNames[level]));
        settings->sync();
    }
    if (this->level() != before)
        emit levelChanged(this->level());
}

void KelUbcConsent::governCollection()
{
    const auto apply = [this] { RuvUbc::instance()->setCollectionEnabled(recordsLocally()); };
    apply();
    if (!d->governing)
        connect(this, &KelUbcConsent::levelChanged, this, apply);
    d->governing = true;
}

QString KelUbcConsent::title() { return translated(KelUbcHostTexts::Consent::Title); }
QString KelUbcConsent::intro() { return translated(KelUbcHostTexts::Consent::Intro); }
QString KelUbcConsent::lockedText() { return translated(KelUbcHostTexts::Consent::Locked); }

QString KelUbcConsent::levelText(Level level)
{
    switch (level) {
    case Off:
        return translated(KelUbcHostTexts::Consent::Off);
    case LocalOnly:
        return translated(KelUbcHostTexts::Consent::Local);
    case Upload:
        return translated(KelUbcHostTexts::Consent::Upload);
    case Unasked:
        break;
    }
    return QString();
}

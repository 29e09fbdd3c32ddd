// Model-data statistics: states, events and the two commit roads.

#include "KelUbcPrivate.h"

#include <KelTimeTracker.h>

UBCMDStateInfo::UBCMDStateInfo()
    : code(0), state(UbcMDEventNone), committed(0), startTime(-1)
{
}

UBCMDStateInfo::UBCMDStateInfo(const UBCMDStateInfo &other) = default;
UBCMDStateInfo::UBCMDStateInfo(UBCMDStateInfo &&other) noexcept = default;
UBCMDStateInfo &UBCMDStateInfo::operator=(const UBCMDStateInfo &other) = default;
UBCMDStateInfo &UBCMDStateInfo::operator=(UBCMDStateInfo &&other) noexcept = default;
UBCMDStateInfo::~UBCMDStateInfo() = default;

// Codes cross between quint64 and the signed map key bit for bit.
static qint64 toKey(quint64 code) { return static_cast<qint64>(code); }
static quint64 toCode(qint64 key) { return static_cast<quint64>(key); }

QMap<quint64, UBCMDStateInfo> KelUbcPrivate::getProjMDInfo() const
{
    QMap<quint64, UBCMDStateInfo> result;
    for (auto it = m_mdStates.cbegin(); it != m_mdStates.cend(); ++it) {
        if (it->state == UbcMDEventCommit)
            result.insert(toCode(it.key()), it.value());
    }
    return result;
}

void KelUbcPrivate::setProjMDInfo(const QMap<quint64, UBCMDStateInfo> &states)
{
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        m_mdStates.insert(toKey(it.key()), it.value());
}

void KelUbcPrivate::sendMDByEvent(quint64 code, UbcMDEventType type, bool startTiming,
                                  const QString &key, const QString &value)
{
    auto it = m_mdStates.find(toKey(code));
    if (it == m_mdStates.end()) {
        UBCMDStateInfo fresh;
        fresh.code = code;
        it = m_mdStates.insert(toKey(code), fresh);
    }
    it->state = type;
    if (!key.isEmpty())
        it->attrs.insert(key, value);
    if (startTiming) {
        const std::string trackerKey = m_projectId.toStdString();
        it->startTime = KelTimeTracker::getInstance()->getWorkingTime(trackerKey);
    }
}

void KelUbcPrivate::commitMD(quint64 code, const QString &key, const QString &value)
{
    auto it = m_mdStates.find(toKey(code));
    if (it == m_mdStates.end() || it->code != code || it->committed == 1
        || it->state != UbcMDEventCommit)
        return;
    if (!key.isEmpty())
        it->attrs.insert(key, value);
    if (it->startTime >= 0) {
        const std::string trackerKey = m_projectId.toStdString();
        const qint64 elapsed = KelTimeTracker::getInstance()->getWorkingTime(trackerKey) - it->startTime;
        // Integer division truncates toward zero: -1500 ms is -1 s, -999 ms is 0 s.
        it->attrs.insert(QStringLiteral("tjsc"), QString::number(elapsed / 1000));
    }
    // The stored attributes take the coded road's "layer" rule, through the
    // singleton as every coded report, and keep whatever the helper adds to
    // the record meanwhile. The helper gets a copy, since it may call back into
    // the facade and drop or replace this record; the record is looked up
    // again afterwards. A statistic committed while collection is off is
    // marked all the same: it never goes out later.
    if (KelUbcPrivate *s = singleton()) {
        s->applyLayerRule(it->attrs);
        const QMap<QString, QString> attributes = it->attrs;
        s->sendCoded(KelUbcHelperLink::SendAttributes, code, &attributes);
    }
    markCommitted(toKey(code));
}

void KelUbcPrivate::markCommitted(qint64 key)
{
    auto it = m_mdStates.find(key);
    if (it != m_mdStates.end())
        it->committed = 1;
}

void KelUbcPrivate::commitMDOnProjectClose()
{
    // Ascending signed-key order; keys are taken first because the helper may
    // change the map while it handles a statistic.
    const QList<qint64> keys = m_mdStates.keys();
    for (qint64 key : keys) {
        const auto it = m_mdStates.constFind(key);
        if (it == m_mdStates.cend() || it->state != UbcMDEventProjectClose || it->committed != 0)
            continue;
        const quint64 code = it->code;
        const QMap<QString, QString> attributes = it->attrs;
        sendCoded(KelUbcHelperLink::SendAttributes, code, &attributes);
        markCommitted(key);
    }
}

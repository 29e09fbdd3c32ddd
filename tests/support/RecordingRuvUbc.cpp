#include "TestSupport.h"

namespace {
QStringList g_calls;
QList<UbcDataProtocol> g_records;
bool g_collecting = true;
} // namespace

namespace RecordingLog {
Q_DECL_EXPORT QStringList &calls() { return g_calls; }
Q_DECL_EXPORT QList<UbcDataProtocol> &records() { return g_records; }
Q_DECL_EXPORT void reset()
{
    g_calls.clear();
    g_records.clear();
    g_collecting = true;
}
Q_DECL_EXPORT UbcDataProtocol initialRecord()
{
    // Context fields plus things the library must overwrite or drop.
    UbcDataProtocol r;
    r.pcode = QStringLiteral("test-product");
    r.trigertime = QStringLiteral("2026-12-05T10:00:00.000+00:00");
    r.sessionid = QStringLiteral("session-1");
    r.duration = QStringLiteral("init-duration");
    r.prjfullpath = QStringLiteral("init-path");
    r.attrs.insert(QStringLiteral("fromInit"), QStringLiteral("x"));
    return r;
}
} // namespace RecordingLog

RuvUbc::RuvUbc() : d(nullptr) {}
RuvUbc::~RuvUbc() = default;

RuvUbc *RuvUbc::instance()
{
    static RuvUbc log;
    return &log;
}

void RuvUbc::initUbcDataProtocol(UbcDataProtocol &record)
{
    g_calls << QStringLiteral("init");
    record = RecordingLog::initialRecord();
}

void RuvUbc::logUbcDataProtocol(UbcDataProtocol &record)
{
    g_calls << QStringLiteral("log");
    g_records << record;
}

void RuvUbc::setFilterType(int type)
{
    g_calls << QStringLiteral("filter:%1").arg(type);
}

void RuvUbc::setLogFilePath(const QString &path)
{
    g_calls << QStringLiteral("path:") + path;
}

void RuvUbc::addLogFilePath(const QString &path)
{
    g_calls << QStringLiteral("mirror:") + path;
}

// The collection switch, read on every road of the facade and by the
// shipped helper; not noted in calls, so that the other calls read as before.
void RuvUbc::setCollectionEnabled(bool enabled) { g_collecting = enabled; }
bool RuvUbc::isCollectionEnabled() const { return g_collecting; }

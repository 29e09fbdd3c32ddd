#include "IngestServer.h"

#include "Flusher.h"
#include "GzipInflate.h"
#include "IngestLogging.h"
#include "Spool.h"

#include <QtCore/QTimer>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMaxHeaderBytes = 64 * 1024;
// A sync of this much waits for no one.
constexpr qint64 kSyncNowBytes = 8 << 20;

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    default: return "Service Unavailable";
    }
}

} // namespace

struct IngestServer::Connection
{
    QByteArray buffer;
    int headerEnd = -1;       // offset of the body, once the head is read
    qint64 bodyBytes = 0;
    QByteArray encoding;
    QByteArray method;
    bool close = false;       // "Connection: close" or HTTP/1.0
    bool waiting = false;     // answered only after the next sync
};

IngestServer::IngestServer(Spool *spool, Flusher *flusher, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_spool(spool)
    , m_flusher(flusher)
    , m_settings(settings)
    , m_server(new QTcpServer(this))
    , m_syncTimer(new QTimer(this))
    , m_sealTimer(new QTimer(this))
{
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setTimerType(Qt::PreciseTimer);
    connect(m_syncTimer, &QTimer::timeout, this, &IngestServer::commit);
    connect(m_sealTimer, &QTimer::timeout, this, &IngestServer::tick);
    connect(m_server, &QTcpServer::newConnection, this, &IngestServer::accept);
    m_sealTimer->start(qMax(10, m_settings.sealAfterMs / 4));
}

IngestServer::~IngestServer()
{
    qDeleteAll(m_connections);
}

// The socket is made here rather than by QTcpServer, whose backlog of 50
// connections overflows when the gateway opens hundreds at once: each
// dropped one waits a second or more for its retry.
bool IngestServer::listen(QString *error)
{
    m_server->setMaxPendingConnections(4096);
    const bool v6 = m_settings.address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    sockaddr_storage address{};
    socklen_t size = 0;
    if (v6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(m_settings.port);
        const Q_IPV6ADDR ip = m_settings.address.toIPv6Address();
        std::memcpy(&a->sin6_addr, &ip, sizeof ip);
        size = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(m_settings.port);
        a->sin_addr.s_addr = htonl(m_settings.address.toIPv4Address());
        size = sizeof *a;
    }
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
        && ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(fd, SOMAXCONN) == 0
        && m_server->setSocketDescriptor(fd))
        return true;
    *error = QStringLiteral("cannot listen on %1:%2: %3")
                 .arg(m_settings.address.toString())
                 .arg(m_settings.port)
                 .arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (fd >= 0)
        ::close(fd);
    return false;
}

quint16 IngestServer::port() const
{
    return m_server->serverPort();
}

void IngestServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

void IngestServer::readFrom(QTcpSocket *socket)
{
    Connection *c = m_connections.value(socket);
    if (!c)
        return;
    c->buffer += socket->readAll();
    // One request at a time: the next is read once this one is answered.
    while (!c->waiting && socket->state() == QAbstractSocket::ConnectedState) {
        if (c->headerEnd < 0) {
            const int end = c->buffer.indexOf("\r\n\r\n");
            if (end < 0) {
                if (c->buffer.size() > kMaxHeaderBytes) {
                    c->close = true;
                    answer(socket, 431, "request head too large");
                }
                return;
            }
            const QList<QByteArray> lines = c->buffer.left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            c->method = first.value(0);
            c->close = first.value(2) != "HTTP/1.1";
            c->bodyBytes = -1;
            c->encoding.clear();
            bool chunked = false;
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = lines.at(i).indexOf(':');
                const QByteArray name = lines.at(i).left(colon).trimmed().toLower();
                const QByteArray value = lines.at(i).mid(colon + 1).trimmed().toLower();
                if (name == "content-length") {
                    bool ok = false;
                    c->bodyBytes = value.toLongLong(&ok);
                    if (!ok)
                        c->bodyBytes = -1;
                }
                else if (name == "content-encoding")
                    c->encoding = value;
                else if (name == "transfer-encoding")
                    chunked = value != "identity";
                else if (name == "connection" && value == "close")
                    c->close = true;
            }
            c->headerEnd = end + 4;
            if (chunked || c->bodyBytes < 0) {
                c->close = true;
                answer(socket, 411, "a body with Content-Length only");
                return;
            }
            if (c->bodyBytes > m_settings.maxBodyBytes) {
                c->close = true;
                answer(socket, 413, "body too large");
                return;
            }
        }
        if (c->buffer.size() - c->headerEnd < c->bodyBytes)
            return;
        const QByteArray body = c->buffer.mid(c->headerEnd, int(c->bodyBytes));
        c->buffer.remove(0, c->headerEnd + int(c->bodyBytes));
        c->headerEnd = -1;
        if (c->method != "POST")
            answer(socket, 405, "POST only");
        else
            handle(socket, c->encoding, body);
    }
}

void IngestServer::handle(QTcpSocket *socket, const QByteArray &encoding, const QByteArray &body)
{
    const QByteArray *plain = &body;
    if (encoding == "gzip") {
        switch (GzipInflate::inflate(body, m_settings.maxBodyBytes, m_inflated)) {
        case GzipInflate::Ok: plain = &m_inflated; break;
        case GzipInflate::Broken: return answer(socket, 400, "the gzip body is broken");
        case GzipInflate::TooLarge: return answer(socket, 413, "body too large once inflated");
        }
    } else if (!encoding.isEmpty() && encoding != "identity") {
        return answer(socket, 415, "plain or gzip bodies only");
    }
    m_rows.clear();
    const QByteArray why = m_checker.append(*plain, m_rows);
    if (!why.isEmpty())
        return answer(socket, 400, "Code: 27, e.displayText() = DB::Exception: Cannot parse input: " + why);
    if (m_rows.isEmpty())
        return answer(socket, 200, QByteArray());
    if (m_spool->bytes() > m_settings.maxSpoolBytes)
        return answer(socket, 503, "the spool is full: the store is not taking inserts");
    if (!m_spool->append(m_rows))
        return answer(socket, 503, "cannot write the spool");
    m_connections.value(socket)->waiting = true;
    m_waiting.append(socket);
    m_unsyncedBytes += m_rows.size();
    if (m_unsyncedBytes >= kSyncNowBytes)
        commit();
    else if (!m_syncTimer->isActive())
        m_syncTimer->start(m_settings.syncDelayMs);
}

// One sync for every request appended since the last; then their answers.
void IngestServer::commit()
{
    m_syncTimer->stop();
    const bool synced = m_spool->sync();
    const QList<QPointer<QTcpSocket>> waiting = m_waiting;
    m_waiting.clear();
    m_unsyncedBytes = 0;
    for (const QPointer<QTcpSocket> &socket : waiting) {
        Connection *c = socket ? m_connections.value(socket) : nullptr;
        if (!c)
            continue;
        c->waiting = false;
        if (synced)
            answer(socket, 200, QByteArray());
        else
            answer(socket, 503, "cannot sync the spool");
    }
    // Requests that came in meanwhile, once this group is answered.
    for (const QPointer<QTcpSocket> &socket : waiting) {
        if (socket)
            readFrom(socket);
    }
    if (!synced || m_spool->openBytes() >= m_settings.sealBytes) {
        m_spool->seal();
        m_flusher->kick();
    }
}

void IngestServer::tick()
{
    if (m_spool->openBytes() > 0 && m_spool->openAgeMs() >= m_settings.sealAfterMs) {
        commit();
        if (m_spool->seal())
            m_flusher->kick();
    }
}

void IngestServer::answer(QTcpSocket *socket, int status, const QByteArray &text)
{
    Connection *c = m_connections.value(socket);
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    reply += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: ";
    const QByteArray body = text.isEmpty() ? text : text + '\n';
    reply += QByteArray::number(body.size()) + "\r\n";
    if (c && c->close)
        reply += "Connection: close\r\n";
    reply += "\r\n" + body;
    socket->write(reply);
    socket->flush(); // now, not on the next turn of the event loop
    if (status != 200 && status != 400)
        qCDebug(lcIngest, "HTTP %d: %s", status, text.constData());
    if (!c || c->close)
        socket->disconnectFromHost();
}

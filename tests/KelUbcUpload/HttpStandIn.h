#ifndef HTTPSTANDIN_H
#define HTTPSTANDIN_H

// A loopback HTTP/1.1 server in the test's thread, standing in for ClickHouse:
// each POST's body (gunzipped) is kept and answered with the status that
// `answer` returns for it; 0 leaves the request unanswered. Answers carry
// `headers` (ClickHouse's own by default) and, unless 200, `errorText`
// (ClickHouse's parse error by default).

#include <QtCore/QElapsedTimer>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <functional>
#include <zlib.h>

struct StandInRequest
{
    QByteArray target, authorization, body;
    qint64 at = 0; // ms since the stand-in started
};

class HttpStandIn : public QObject
{
public:
    std::function<int(const StandInRequest &)> answer = [](const StandInRequest &) { return 200; };
    QList<StandInRequest> requests;
    QByteArray headers = "X-ClickHouse-Server-Display-Name: stand-in\r\n";
    QByteArray errorText = "Code: 26, e.displayText() = DB::Exception: Cannot parse JSON string: refused by the stand-in\n";

    HttpStandIn()
    {
        clock.start();
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()); }
    // Rows received in 200-answered requests.
    QList<QByteArray> acceptedRows() const
    {
        QList<QByteArray> rows;
        for (const StandInRequest &r : accepted) {
            if (r.target.contains("upload_losses")) // the uploader's own report, not rows of the log
                continue;
            for (const QByteArray &row : r.body.split('\n'))
                if (!row.isEmpty())
                    rows << row;
        }
        return rows;
    }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = pending[socket];
        buffer += socket->readAll();
        for (;;) {
            const int headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            StandInRequest request;
            int length = 0;
            bool gzip = false;
            const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
            request.target = lines.first().split(' ').value(1);
            for (const QByteArray &line : lines) {
                const int colon = line.indexOf(':');
                const QByteArray name = line.left(colon).trimmed().toLower(), value = line.mid(colon + 1).trimmed();
                if (name == "content-length")
                    length = value.toInt();
                else if (name == "content-encoding")
                    gzip = value == "gzip";
                else if (name == "authorization")
                    request.authorization = value;
            }
            if (buffer.size() < headerEnd + 4 + length)
                return;
            request.body = buffer.mid(headerEnd + 4, length);
            buffer.remove(0, headerEnd + 4 + length);
            if (gzip)
                request.body = gunzip(request.body);
            request.at = clock.elapsed();
            requests << request;
            const int status = answer(request);
            if (status == 200)
                accepted << request;
            if (status) {
                const QByteArray text = status == 200 ? QByteArray() : errorText;
                socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + headers + "Content-Length: "
                              + QByteArray::number(text.size()) + "\r\n\r\n" + text);
            }
        }
    }
    static QByteArray gunzip(const QByteArray &data)
    {
        z_stream stream = {};
        inflateInit2(&stream, 15 + 16);
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
        stream.avail_in = uInt(data.size());
        QByteArray out;
        int result = Z_OK;
        while (result == Z_OK) {
            out.resize(out.size() + (1 << 20));
            stream.next_out = reinterpret_cast<Bytef *>(out.data() + stream.total_out);
            stream.avail_out = uInt(out.size() - int(stream.total_out));
            result = inflate(&stream, Z_NO_FLUSH);
        }
        out.resize(result == Z_STREAM_END ? int(stream.total_out) : 0);
        inflateEnd(&stream);
        return out;
    }

    QTcpServer server;
    QElapsedTimer clock;
    QHash<QTcpSocket *, QByteArray> pending;
    QList<StandInRequest> accepted;
};

#endif // HTTPSTANDIN_H

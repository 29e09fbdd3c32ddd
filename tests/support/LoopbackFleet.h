#ifndef LOOPBACKFLEET_H
#define LOOPBACKFLEET_H

// The fleet's servers on loopback for one test: a clickhouse-server and the
// gateway in front of it, under one folder, started and stopped by
// scripts/clickhouse-server.sh and scripts/gateway.sh. The test defines
// KELUBC_SOURCE_DIR.

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QStringList>

// A program's standard output, its standard input from a file if given;
// exitCode -1 when it did not finish in msecs.
inline QByteArray runProgram(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                             const QString &input = QString(), int msecs = 180000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(msecs) && process.exitStatus() == QProcess::NormalExit;
    if (!finished)
        process.kill();
    if (exitCode)
        *exitCode = finished ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

class LoopbackFleet
{
public:
    explicit LoopbackFleet(const QString &folder)
        : server(folder + QStringLiteral("/server")), gateway(folder + QStringLiteral("/gateway"))
    {
    }

    static QString source(const char *path) { return QStringLiteral(KELUBC_SOURCE_DIR "/") + QLatin1String(path); }

    // With the tables, or restarted at the address it had.
    bool startServer(bool schema = true)
    {
        QStringList arguments{QStringLiteral("start"), server};
        if (schema)
            arguments << QStringLiteral("--schema");
        int code = 0;
        return runProgram(source("scripts/clickhouse-server.sh"), arguments, &code).startsWith("http://127.0.0.1:")
               && code == 0;
    }
    // The gateway in front of the server: url and token are its.
    bool startGateway(const QStringList &extra = QStringList())
    {
        int code = 0;
        url = QString::fromUtf8(runProgram(source("scripts/gateway.sh"),
                                           QStringList{QStringLiteral("start"), gateway, QStringLiteral("--clickhouse"), server}
                                               + extra, &code)).trimmed();
        QFile file(gateway + QStringLiteral("/token"));
        if (code != 0 || !url.startsWith(QLatin1String("http://127.0.0.1:")) || !file.open(QIODevice::ReadOnly))
            return false;
        token = QString::fromUtf8(file.readAll().trimmed());
        return true;
    }
    void stop()
    {
        runProgram(source("scripts/gateway.sh"), {QStringLiteral("stop"), gateway});
        runProgram(source("scripts/clickhouse-server.sh"), {QStringLiteral("stop"), server});
    }
    // As the operator, whatever the desktops' path allows; the statements
    // from a file when sql is null.
    QByteArray query(const QString &sql, int *exitCode = nullptr, const QString &input = QString()) const
    {
        QStringList arguments{QStringLiteral("query"), server};
        if (!sql.isNull())
            arguments << sql;
        return runProgram(source("scripts/clickhouse-server.sh"), arguments, exitCode, input).trimmed();
    }
    // "http_port" or "tcp_port".
    QString port(const char *kind) const
    {
        QFile file(server + QLatin1Char('/') + QLatin1String(kind));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().trimmed()) : QString();
    }

    // ubc-report's summary as JSON (written to json) from its input
    // arguments, as the read-only user of the server; empty when it failed.
    static QJsonObject report(const QString &program, const QStringList &input, const QString &json)
    {
        QFile::remove(json);
        QProcess report;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("UBC_REPORT_PASSWORD"), QStringLiteral("ubc-report-secret")); // server/clickhouse/users.xml
        report.setProcessEnvironment(env);
        report.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        report.start(program, input + QStringList{QStringLiteral("--quiet"), QStringLiteral("--json"), json});
        QFile file(json);
        if (!report.waitForFinished(60000) || report.exitCode() != 0 || !file.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    const QString server, gateway;
    QString url, token;
};

#endif

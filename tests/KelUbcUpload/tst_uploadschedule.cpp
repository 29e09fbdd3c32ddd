// Desktops that start together do not send together: the first batch of a
// run waits a random part of the batch age, from half of it to all of it.

#include "HttpStandIn.h"
#include "TestLogs.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <algorithm>
#include <memory>
#include <vector>

class tst_UploadSchedule : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void firstSendsSpread()
    {
        constexpr int desktops = 10;
        constexpr int age = 3000;
        HttpStandIn server;
        std::vector<std::unique_ptr<KelUbcUploader>> uploaders;
        UbcDataProtocol record;
        RuvUbc::instance()->initUbcDataProtocol(record);
        record.fncode = QStringLiteral("210101");
        record.fnname = QStringLiteral("wall");
        for (int i = 0; i < desktops; ++i) {
            const QString log = m_dir.filePath(QStringLiteral("desk%1.jsonl").arg(i));
            QVERIFY(TestLogs::writeFile(log, RuvUbc::toJsonLine(record, quint64(i + 1))));
            uploaders.push_back(std::make_unique<KelUbcUploader>());
            KelUbcUploader &uploader = *uploaders.back();
            uploader.setLogFilePath(log);
            uploader.setUrl(QUrl(server.url()));
            uploader.setPollInterval(20);
            uploader.setMaxBatchAge(age);
            uploader.setConsentGiven(true);
        }
        for (auto &uploader : uploaders)
            uploader->start();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), desktops, 2 * age);
        QList<qint64> at;
        for (const StandInRequest &request : server.requests)
            at << request.at;
        std::sort(at.begin(), at.end());
        QVERIFY2(at.first() >= age / 2 - 100 && at.last() <= age + 500, qPrintable(QString::number(at.first())));
        // All ten within a quarter of a second: the odds of that by chance
        // are about one in a million.
        QVERIFY2(at.last() - at.first() > 250, qPrintable(QStringLiteral("%1 to %2").arg(at.first()).arg(at.last())));
    }
};

QTEST_GUILESS_MAIN(tst_UploadSchedule)
#include "tst_uploadschedule.moc"

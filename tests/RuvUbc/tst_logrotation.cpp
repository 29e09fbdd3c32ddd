// The record log rotated by size: numbered files in the order written, each
// about the size asked; two processes appending across rotations lose and
// double nothing; erasing takes the numbered files too.

#include "TestLogs.h"
#include "UnderWine.h"

#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <algorithm>

namespace {

// fnname of each line with this code, in order.
QStringList names(const QList<QByteArray> &lines, const QString &code)
{
    return TestLogs::column(TestLogs::objects(lines), QStringLiteral("fnname"), code);
}

using TestLogs::numbers;

} // namespace

class tst_LogRotation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void rotatesBySizeInOrder()
    {
        const QString log = m_dir.filePath(QStringLiteral("one/records.jsonl"));
        RuvUbc *ruv = RuvUbc::instance();
        QCOMPARE(ruv->maxLogFileBytes(), qint64(RuvUbc::DefaultMaxLogFileBytes));
        ruv->setLogFilePath(log);
        ruv->setMaxLogFileBytes(10000);
        UbcDataProtocol record;
        ruv->initUbcDataProtocol(record);
        record.fncode = QStringLiteral("R");
        const int lineSize = RuvUbc::toJsonLine(record, 1).size() + 8;
        for (int i = 0; i < 300; ++i) {
            record.fnname = QString::number(i);
            ruv->logUbcDataProtocol(record);
        }
        QList<qint64> sizes;
        const QList<QByteArray> lines = TestLogs::rotatedLines(log, &sizes);
        QCOMPARE(names(lines, QStringLiteral("R")), numbers(0, 300));
        QVERIFY(sizes.size() >= 300 * (lineSize - 8) / (10000 + lineSize));
        for (qint64 size : sizes)
            QVERIFY2(size >= 10000 && size < 10000 + lineSize, qPrintable(QString::number(size)));
        QVERIFY(QFileInfo(log).size() < 10000);

        // Off: the file grows.
        ruv->setMaxLogFileBytes(0);
        const int files = sizes.size();
        for (int i = 0; i < 100; ++i)
            ruv->logUbcDataProtocol(record);
        QVERIFY(QFileInfo(log).size() > 10000);
        QVERIFY(!QFile::exists(log + QLatin1Char('.') + QString::number(files + 1)));

        QVERIFY(ruv->eraseLogFiles());
        QVERIFY(!QFile::exists(log) && !QFile::exists(log + QStringLiteral(".1")));
        ruv->setMaxLogFileBytes(RuvUbc::DefaultMaxLogFileBytes);
    }

    // Both writers rotate the same log: each one's records are all there,
    // once and in order, and the numbered files are about the size (a
    // writer that kept the renamed file would fill it on).
    void twoWritersAcrossRotations()
    {
        if (UnderWine::running())
            QSKIP("Wine's appends from two processes are not atomic");
        const QString log = m_dir.filePath(QStringLiteral("two/records.jsonl"));
        constexpr int count = 3000;
        constexpr qint64 maxBytes = 64 * 1024;
        const QStringList common{QString::number(count), QStringLiteral("400"), QString::number(maxBytes)};
        QProcess a, b;
        a.start(QStringLiteral(ROTATEHOST), QStringList{log, QStringLiteral("A")} + common);
        b.start(QStringLiteral(ROTATEHOST), QStringList{log, QStringLiteral("B")} + common);
        QVERIFY(a.waitForFinished(120000) && b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        QList<qint64> sizes;
        const QList<QByteArray> lines = TestLogs::rotatedLines(log, &sizes);
        QCOMPARE(names(lines, QStringLiteral("A")), numbers(0, count));
        QCOMPARE(names(lines, QStringLiteral("B")), numbers(0, count));
        // Besides, at most blank lines: a writer opening the file while the
        // other's line is half in place starts on a line of its own.
        QCOMPARE(lines.size() - lines.count(QByteArray()), 2 * count);
        // A file renamed while the other writer waited for the lock (its
        // holder descheduled), or before the other noticed the rename (up to
        // a second on a busy machine), may hold more; most stay near the size.
        QVERIFY(sizes.size() > 10);
        std::sort(sizes.begin(), sizes.end());
        QVERIFY2(sizes.at(sizes.size() / 2) < 3 * maxBytes, qPrintable(QString::number(sizes.at(sizes.size() / 2))));
    }
};

QTEST_GUILESS_MAIN(tst_LogRotation)
#include "tst_logrotation.moc"

#include <QtTest>

#include "update/DownloadFigures.h"

// The figures of the download dialog: sizes, speed, elapsed and remaining time.
class TestDownloadFigures final : public QObject
{
    Q_OBJECT
private slots:
    void formatsFileSizes_data();
    void formatsFileSizes();
    void speedIsTheAverageSinceTheStart_data();
    void speedIsTheAverageSinceTheStart();
    void remainingTimeAtTheAverageSpeed_data();
    void remainingTimeAtTheAverageSpeed();
    void durationsAsHoursMinutesSeconds_data();
    void durationsAsHoursMinutesSeconds();
};

void TestDownloadFigures::formatsFileSizes_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale dutch(QLocale::Dutch, QLocale::Netherlands);
    const qint64 gib = 1024LL * 1024 * 1024;
    QTest::newRow("0") << qint64(0) << english << "0 B";
    QTest::newRow("1") << qint64(1) << english << "1 B";
    QTest::newRow("1024 is still bytes, with a thousands separator") << qint64(1024) << english << "1,024 B";
    QTest::newRow("the separator is the locale's") << qint64(1024) << dutch << "1.024 B";
    QTest::newRow("1025 is 1 KB") << qint64(1025) << english << "1 KB";
    QTest::newRow("2048 is 2 KB") << qint64(2048) << english << "2 KB";
    QTest::newRow("1 MiB is still kilobytes") << qint64(1024 * 1024) << english << "1,024 KB";
    QTest::newRow("1,500,000 is 1 MB") << qint64(1500000) << english << "1 MB";
    QTest::newRow("1 GiB is still megabytes") << gib << english << "1,024 MB";
    QTest::newRow("1 GiB + 1 is 1 GB") << gib + 1 << english << "1 GB";
    QTest::newRow("5 TiB in gigabytes") << 5 * 1024 * gib << dutch << "5.120 GB";
}

void TestDownloadFigures::formatsFileSizes()
{
    QFETCH(qint64, count);
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QCOMPARE(FormatFileSize(count, locale), text);
}

void TestDownloadFigures::speedIsTheAverageSinceTheStart_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("speed");
    QTest::newRow("1,500,000 bytes in 3 seconds is 488 KB/sec") << qint64(1500000) << qint64(3000) << "488 KB/sec";
    QTest::newRow("no time passed yet") << qint64(1500000) << qint64(0) << "0 B/sec";
    QTest::newRow("nothing received yet") << qint64(0) << qint64(2000) << "0 B/sec";
    QTest::newRow("a slow line in bytes") << qint64(900) << qint64(1000) << "900 B/sec";
}

void TestDownloadFigures::speedIsTheAverageSinceTheStart()
{
    QFETCH(qint64, received);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, speed);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(FormatFileSize(downloadSpeed(received, elapsedMs), english) + QStringLiteral("/sec"), speed);
}

void TestDownloadFigures::remainingTimeAtTheAverageSpeed_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("remaining");
    QTest::newRow("half in 3 seconds leaves 3 seconds") << qint64(2048) << qint64(1024) << qint64(3000) << "00:00:03";
    QTest::newRow("a quarter in 1 minute leaves 3 minutes")
        << qint64(4000000) << qint64(1000000) << qint64(60000) << "00:03:00";
    QTest::newRow("nothing received gives no estimate") << qint64(2048) << qint64(0) << qint64(3000) << "00:00:00";
    QTest::newRow("all received leaves nothing") << qint64(2048) << qint64(2048) << qint64(3000) << "00:00:00";
    // (size - received) x elapsed is beyond 64 bits here.
    QTest::newRow("a large slow download does not overflow")
        << (qint64(1) << 40) << (qint64(1) << 20) << (qint64(1) << 24) << "01:41:07";
}

void TestDownloadFigures::remainingTimeAtTheAverageSpeed()
{
    QFETCH(qint64, size);
    QFETCH(qint64, received);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, remaining);
    QCOMPARE(formatDuration(remainingMilliseconds(size, received, elapsedMs)), remaining);
}

void TestDownloadFigures::durationsAsHoursMinutesSeconds_data()
{
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "00:00:00";
    QTest::newRow("parts of a second are dropped") << qint64(1999) << "00:00:01";
    QTest::newRow("an hour, a minute and a second") << qint64(3661000) << "01:01:01";
    QTest::newRow("the hours wrap after 24") << qint64(25 * 3600 * 1000) << "01:00:00";
}

void TestDownloadFigures::durationsAsHoursMinutesSeconds()
{
    QFETCH(qint64, milliseconds);
    QFETCH(QString, text);
    QCOMPARE(formatDuration(milliseconds), text);
}

QTEST_GUILESS_MAIN(TestDownloadFigures)
#include "TestDownloadFigures.moc"

#include <QtTest>

#include "shell/OperatorLog.h"
#include "shell/WorkingFolders.h"

// The operator log: its line forms, the Winsock 10053 filter, and the archives under "BSA/LOGS".
class TestOperatorLog final : public QObject
{
    Q_OBJECT
private slots:
    void loggerPutsTheTimeStampInFront();
    void archiveStampHasFourteenToSixteenDigits_data();
    void archiveStampHasFourteenToSixteenDigits();
    void exceptionHookLeavesOutAbortedConnections_data();
    void exceptionHookLeavesOutAbortedConnections();
    void housekeepingArchivesOnlyAboveFiveThousandLines_data();
    void housekeepingArchivesOnlyAboveFiveThousandLines();
    void archiveIsCodePageTextWithCrLf();
    void archiveOfTheSameSecondIsAppended();
    void archiveThatCannotBeWrittenKeepsTheLog_data();
    void archiveThatCannotBeWrittenKeepsTheLog();
    void setLinesReplacesTheWholeLog();
    void workingFoldersAreCreatedParentsFirst();
    void workingFolderThatCannotBeMadeIsSkipped();
};

namespace {

const QDateTime At = QDateTime(QDate(2025, 12, 9), QTime(14, 3, 7));

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A program folder with its working folders, as after start-up.
QString preparedHome(const QTemporaryDir &dir)
{
    createWorkingFolders(dir.path());
    return dir.path();
}

} // namespace

void TestOperatorLog::loggerPutsTheTimeStampInFront()
{
    QTemporaryDir home;
    OperatorLog log(home.path());
    QSignalSpy added(&log, &OperatorLog::lineAdded);
    log.Logger(QStringLiteral("Verbinding met 10.1.2.3"), At);
    log.addLine(QStringLiteral("SI: BN,BSA,6"));
    const QStringList expected { QStringLiteral("09-12-2025 14:03:07 - Verbinding met 10.1.2.3"),
        QStringLiteral("SI: BN,BSA,6") };
    QCOMPARE(log.lines(), expected);
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(0).at(0).toString(), expected.at(0));
    QCOMPARE(
        OperatorLog::timeStamp(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))), QStringLiteral("02-01-2026 03:04:05"));
}

void TestOperatorLog::archiveStampHasFourteenToSixteenDigits_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("one-digit month and second give 14 digits")
        << QDateTime(QDate(2025, 3, 5), QTime(8, 4, 9)) << QStringLiteral("05032508040939");
    QTest::newRow("a two-digit month gives 15 digits") << At << QStringLiteral("091225140307127");
    QTest::newRow("a two-digit month and second give 16 digits")
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59)) << QStringLiteral("3112252359591259");
    QTest::newRow("midnight on New Year's day")
        << QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0)) << QStringLiteral("01010000000010");
}

void TestOperatorLog::archiveStampHasFourteenToSixteenDigits()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, stamp);
    QCOMPARE(OperatorLog::archiveStamp(now), stamp);
    QTemporaryDir home;
    OperatorLog log(home.path());
    QCOMPARE(log.archiveFileName(now), home.filePath(QStringLiteral("BSA/LOGS/BS_") + stamp + ".TXT"));
}

void TestOperatorLog::exceptionHookLeavesOutAbortedConnections_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("logged");
    QTest::newRow("an aborted connection leaves no trace")
        << QStringLiteral("Asynchronous socket error 10053") << false;
    QTest::newRow("10053 anywhere in the message leaves no trace")
        << QStringLiteral("Windows socket error: (10053), on API 'recv'") << false;
    QTest::newRow("a connection reset by the peer is logged")
        << QStringLiteral("Asynchronous socket error 10054") << true;
    QTest::newRow("any other error is logged") << QStringLiteral("List index out of bounds (3)") << true;
}

void TestOperatorLog::exceptionHookLeavesOutAbortedConnections()
{
    QFETCH(QString, message);
    QFETCH(bool, logged);
    QTemporaryDir home;
    OperatorLog log(home.path());
    log.ApplicationEvents1Exception(message);
    QCOMPARE(log.lineCount(), logged ? 1 : 0);
    if (logged) {
        static const QRegularExpression timeStamped(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d - "));
        QVERIFY(timeStamped.match(log.lines().first()).hasMatch());
        QVERIFY(log.lines().first().endsWith(message));
    }
}

void TestOperatorLog::housekeepingArchivesOnlyAboveFiveThousandLines_data()
{
    QTest::addColumn<int>("plainLines");
    QTest::addColumn<QString>("lastMessage"); // added after the plain lines, when not empty
    QTest::addColumn<bool>("archived");
    QTest::newRow("exactly 5000 lines stay") << 5000 << QString() << false;
    QTest::newRow("5001 lines are archived") << 5001 << QString() << true;
    QTest::newRow("a message of two lines counts twice") << 4999 << QStringLiteral("eerste\r\ntweede") << true;
}

void TestOperatorLog::housekeepingArchivesOnlyAboveFiveThousandLines()
{
    QFETCH(int, plainLines);
    QFETCH(QString, lastMessage);
    QFETCH(bool, archived);
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    for (int i = 0; i < plainLines; ++i)
        log.addLine(QStringLiteral("regel %1").arg(i));
    if (!lastMessage.isEmpty())
        log.addLine(lastMessage);
    const int before = log.lineCount();
    QSignalSpy cleared(&log, &OperatorLog::cleared);

    QVERIFY(log.housekeeping(At));
    QCOMPARE(log.lineCount(), archived ? 0 : before);
    QCOMPARE(cleared.count(), archived ? 1 : 0);
    const QByteArray file = readAll(log.archiveFileName(At));
    QCOMPARE(file.count("\r\n"), archived ? before : 0);
}

void TestOperatorLog::archiveIsCodePageTextWithCrLf()
{
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    log.addLine(QStringLiteral("caf\u00e9 \u20ac"));
    log.Logger(QStringLiteral("afsluiten software geaccepteerd"), At);
    QString error;
    QVERIFY2(log.archive(At, &error), qPrintable(error));
    QCOMPARE(readAll(dir.filePath("BSA/LOGS/BS_091225140307127.TXT")),
        QByteArray("caf\xe9 \x80\r\n09-12-2025 14:03:07 - afsluiten software geaccepteerd\r\n"));
    QCOMPARE(log.lineCount(), 0);
}

void TestOperatorLog::archiveOfTheSameSecondIsAppended()
{
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    log.addLine(QStringLiteral("housekeeping"));
    QVERIFY(log.archive(At));
    log.addLine(QStringLiteral("close"));
    QVERIFY(log.archive(At));
    QCOMPARE(readAll(log.archiveFileName(At)), QByteArray("housekeeping\r\nclose\r\n"));
}

void TestOperatorLog::archiveThatCannotBeWrittenKeepsTheLog_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::newRow("the log and the error stay in the log") << At;
    // The file name then holds the digits 10053; the failure must not be taken for an aborted connection.
    QTest::newRow("an archive at 10:05:30 still reports its failure") << QDateTime(QDate(2025, 1, 2), QTime(10, 5, 30));
}

void TestOperatorLog::archiveThatCannotBeWrittenKeepsTheLog()
{
    QFETCH(QDateTime, now);
    QTemporaryDir home; // no working folders: "BSA/LOGS" is missing
    OperatorLog log(home.path());
    for (int i = 0; i <= OperatorLog::MaxLines; ++i)
        log.addLine(QStringLiteral("regel %1").arg(i));
    QSignalSpy cleared(&log, &OperatorLog::cleared);

    QVERIFY(!log.housekeeping(now)); // ends the tick
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(log.lineCount(), OperatorLog::MaxLines + 2);
    QCOMPARE(log.lines().at(OperatorLog::MaxLines), QStringLiteral("regel 5000"));
    const QString path = QDir::toNativeSeparators(log.archiveFileName(now));
    QVERIFY2(log.lines().last().startsWith(OperatorLog::timeStamp(now) + " - "), qPrintable(log.lines().last()));
    QVERIFY2(log.lines().last().contains(path), qPrintable(log.lines().last()));

    QString error;
    QVERIFY(!log.archive(now, &error));
    QVERIFY(error.contains(path));
    QVERIFY(!QFile::exists(log.archiveFileName(now)));
}

void TestOperatorLog::setLinesReplacesTheWholeLog()
{
    QTemporaryDir home;
    OperatorLog log(home.path());
    log.addLine(QStringLiteral("oud"));
    QSignalSpy cleared(&log, &OperatorLog::cleared);
    QSignalSpy added(&log, &OperatorLog::lineAdded);
    log.setLines({ QStringLiteral("Login failed for user 'sa'.\nsecond line") });
    QCOMPARE(log.lines(), QStringList({ "Login failed for user 'sa'.", "second line" }));
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(added.count(), 2);
}

void TestOperatorLog::workingFoldersAreCreatedParentsFirst()
{
    QTemporaryDir home;
    createWorkingFolders(home.path());
    createWorkingFolders(home.path()); // a second start finds them all
    for (const char *name :
        { "BSA", "BSA/LOGS", "BSA/BACKUPS", "BSA/BACKUPS/IN", "BSA/BACKUPS/UIT", "Backups", "TempDownloads" })
        QVERIFY2(QFileInfo(home.filePath(QString::fromLatin1(name))).isDir(), name);
}

void TestOperatorLog::workingFolderThatCannotBeMadeIsSkipped()
{
    QTemporaryDir home;
    QFile blocker(home.filePath("BSA")); // a file where the folder should be
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    createWorkingFolders(home.path());
    QVERIFY(!QFileInfo(home.filePath("BSA/LOGS")).exists());
    QVERIFY(QFileInfo(home.filePath("Backups")).isDir());
    QVERIFY(QFileInfo(home.filePath("TempDownloads")).isDir());
}

QTEST_GUILESS_MAIN(TestOperatorLog)
#include "TestOperatorLog.moc"

#include <sys/stat.h>

#include <QtTest>

#include "platform/DateTimeText.h"
#include "shell/OperatorLog.h"
#include "shell/WorkingFolders.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UnixOnly.h"

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
    void archiveMakesItsRemovedFolderAgain();
    void archivesOfOneSecondStayWithinTheirBound_data();
    void archivesOfOneSecondStayWithinTheirBound();
    void newArchiveIsReadableByItsOwnerOnly_data();
    void newArchiveIsReadableByItsOwnerOnly();
    void symbolicLinkInTheArchivesPlaceIsRefused_data();
    void symbolicLinkInTheArchivesPlaceIsRefused();
    void archiveThatCannotBeWrittenKeepsTheLog_data();
    void archiveThatCannotBeWrittenKeepsTheLog();
    void everyLineStaysOneLine_data();
    void everyLineStaysOneLine();
    void aControlCharacterAnywhereInALongLineIsShownByItsCode_data();
    void aControlCharacterAnywhereInALongLineIsShownByItsCode();
    void theStampOfTheCurrentSecondFollowsTheClock_data();
    void theStampOfTheCurrentSecondFollowsTheClock();
    void anOverlongLineKeepsItsStartAndSaysItsLength_data();
    void anOverlongLineKeepsItsStartAndSaysItsLength();
    void aLogPastItsCharacterBoundIsArchivedAtOnce();
    void aFailedArchiveOfALargeLogIsTriedAgainOnlyByHousekeeping();
    void workingFoldersAreCreatedParentsFirst();
    void workingFolderThatCannotBeMadeIsSkipped();
};

namespace {

const QDateTime At = QDateTime(QDate(2025, 12, 9), QTime(14, 3, 7));

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
    QTest::newRow("a message holding a line break is still one line")
        << 4999 << QStringLiteral("eerste\r\ntweede") << false;
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
    const QByteArray file = readFile(log.archiveFileName(At));
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
    QCOMPARE(readFile(dir.filePath("BSA/LOGS/BS_091225140307127.TXT")),
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
    QCOMPARE(readFile(log.archiveFileName(At)), QByteArray("housekeeping\r\nclose\r\n"));
}

// The working folder removed while the link runs (it holds the default database too): the next archive makes its
// folder again instead of failing every second from then on.
void TestOperatorLog::archiveMakesItsRemovedFolderAgain()
{
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    QVERIFY(QDir(dir.filePath(QStringLiteral("BSA"))).removeRecursively());
    log.addLine(QStringLiteral("na het verwijderen"));
    QString error;
    QVERIFY2(log.archive(At, &error), qPrintable(error));
    QCOMPARE(readFile(log.archiveFileName(At)), QByteArray("na het verwijderen\r\n"));
}

void TestOperatorLog::archivesOfOneSecondStayWithinTheirBound_data()
{
    // The files of the second as they were before the archive (-1: none), and the part that takes the archive.
    QTest::addColumn<QList<qint64>>("sizesBefore");
    QTest::addColumn<int>("expectedPart");
    QTest::newRow("the first archive of a second") << QList<qint64> {} << 1;
    QTest::newRow("a second archive in that second is added to the first") << QList<qint64> { 100 } << 1;
    QTest::newRow("the bound reached exactly is still added")
        << QList<qint64> { OperatorLog::MaxArchiveBytes - 7 } << 1;
    QTest::newRow("past the bound the archive gets the second's next file")
        << QList<qint64> { OperatorLog::MaxArchiveBytes - 6 } << 2;
    QTest::newRow("a full first and a next with room") << QList<qint64> { OperatorLog::MaxArchiveBytes, 100 } << 2;
    QTest::newRow("two full files of the second")
        << QList<qint64> { OperatorLog::MaxArchiveBytes, OperatorLog::MaxArchiveBytes - 1 } << 3;
}

void TestOperatorLog::archivesOfOneSecondStayWithinTheirBound()
{
    QFETCH(QList<qint64>, sizesBefore);
    QFETCH(int, expectedPart);
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    // Files of the given sizes, made without writing their bytes.
    for (int part = 1; part <= sizesBefore.size(); ++part) {
        QFile file(log.archiveFileName(At, part));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(sizesBefore.at(part - 1)));
    }
    log.addLine(QStringLiteral("nieuw")); // 7 bytes with its CR LF
    QString error;
    QVERIFY2(log.archive(At, &error), qPrintable(error));

    const qint64 before = expectedPart <= sizesBefore.size() ? sizesBefore.at(expectedPart - 1) : 0;
    QFile taken(log.archiveFileName(At, expectedPart));
    QCOMPARE(taken.size(), before + 7);
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QVERIFY(taken.seek(before));
    QCOMPARE(taken.readAll(), QByteArray("nieuw\r\n"));
    for (int part = 1; part <= sizesBefore.size(); ++part) {
        if (part != expectedPart)
            QCOMPARE(QFileInfo(log.archiveFileName(At, part)).size(), sizesBefore.at(part - 1));
    }
    const QStringList files = QDir(log.archiveFolder()).entryList(QDir::Files);
    QCOMPARE(files.size(), qMax<qsizetype>(sizesBefore.size(), expectedPart));
    // The second's later files keep the name of the second: "BS_", its stamp, the part, ".TXT".
    if (expectedPart > 1)
        QCOMPARE(QFileInfo(taken).fileName(), QStringLiteral("BS_091225140307127_%1.TXT").arg(expectedPart));
}

void TestOperatorLog::newArchiveIsReadableByItsOwnerOnly_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<bool>("existing"); // an archive of that second was there, readable by everyone
    QTest::newRow("umask 000") << 0000 << false;
    QTest::newRow("umask 022") << 0022 << false;
    QTest::newRow("umask 077") << 0077 << false;
    QTest::newRow("an existing archive keeps its mode") << 0022 << true;
}

void TestOperatorLog::newArchiveIsReadableByItsOwnerOnly()
{
    BSA_UNIX_ONLY("file modes that keep others from reading a file");
    QFETCH(int, umask);
    QFETCH(bool, existing);
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    const QFileDevice::Permissions everyone
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (existing) {
        QVERIFY(writeFile(log.archiveFileName(At), "eerder\r\n"));
        QVERIFY(QFile::setPermissions(log.archiveFileName(At), everyone));
    }
    const mode_t previous = ::umask(mode_t(umask));
    log.addLine(QStringLiteral("Jansen, Dorpsstraat 1"));
    const bool archived = log.archive(At);
    ::umask(previous);
    QVERIFY(archived);

    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions permissions = QFile::permissions(log.archiveFileName(At));
    if (existing) {
        QCOMPARE(permissions & (everyone | others), everyone);
        QCOMPARE(readFile(log.archiveFileName(At)), QByteArray("eerder\r\nJansen, Dorpsstraat 1\r\n"));
    } else {
        QCOMPARE(permissions & others, QFileDevice::Permissions());
        QVERIFY(permissions & QFileDevice::ReadOwner);
        QVERIFY(permissions & QFileDevice::WriteOwner);
    }
}

void TestOperatorLog::symbolicLinkInTheArchivesPlaceIsRefused_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<int>("part");
    QTest::newRow("a link to a file of someone else") << true << 1;
    QTest::newRow("a link to a file that does not exist") << false << 1;
    QTest::newRow("a link in the place of the second's next file") << true << 2;
}

void TestOperatorLog::symbolicLinkInTheArchivesPlaceIsRefused()
{
    BSA_UNIX_ONLY("symbolic links a user may make");
    QFETCH(bool, targetExists);
    QFETCH(int, part);
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    const QString target = dir.filePath(QStringLiteral("elders.txt"));
    const QByteArray targetBytes = "niet van de koppeling\n";
    if (targetExists)
        QVERIFY(writeFile(target, targetBytes));
    if (part > 1) {
        QFile full(log.archiveFileName(At));
        QVERIFY(full.open(QIODevice::WriteOnly));
        QVERIFY(full.resize(OperatorLog::MaxArchiveBytes));
    }
    const QString link = log.archiveFileName(At, part);
    QVERIFY(QFile::link(target, link));
    log.addLine(QStringLiteral("Jansen, Dorpsstraat 1"));

    QString error;
    QVERIFY(!log.archive(At, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(link)) && error.contains(QStringLiteral("symbolische koppeling")),
        qPrintable(error));
    QVERIFY(log.lines().last().endsWith(error)); // the operator sees it
    QCOMPARE(log.lines().first(), QStringLiteral("Jansen, Dorpsstraat 1"));
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(readFile(target), targetBytes);
    QVERIFY(QFileInfo(link).isSymLink());

    // The next second has a name of its own: the lines are archived then.
    const QDateTime next = At.addSecs(1);
    QVERIFY(log.archive(next));
    QCOMPARE(log.lineCount(), 0);
    QVERIFY(readFile(log.archiveFileName(next)).startsWith("Jansen, Dorpsstraat 1\r\n"));
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
    QTemporaryDir home;
    // "BSA" is a file, so no folder for the archives can be made.
    QVERIFY(writeFile(home.filePath(QStringLiteral("BSA")), "geen map"));
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

void TestOperatorLog::everyLineStaysOneLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a forged time-stamped line stays inside its own line")
        << QStringLiteral("NaamReiziger\r\n09-12-2025 14:03:07 - <ACK - (BN) VERWERKT>")
        << QStringLiteral("NaamReiziger#0D##0A#09-12-2025 14:03:07 - <ACK - (BN) VERWERKT>");
    QTest::newRow("a lone CR cannot overwrite the line on a terminal")
        << QStringLiteral("echt\rnep") << QStringLiteral("echt#0D#nep");
    QTest::newRow("BSA's line break keeps its marker") << QStringLiteral("Bel aan\x1bLF"
                                                                         "Achterdeur")
                                                       << QStringLiteral("Bel aan#CRLF#Achterdeur");
    QTest::newRow("a terminal escape sequence is shown, not sent")
        << QStringLiteral("\x1b[2J\x1b]0;titel\x07") << QStringLiteral("#1B#[2J#1B#]0;titel#07#");
    QTest::newRow("TAB stays, as the status text is logged with its TABs")
        << QStringLiteral("BT\tBSA\t6") << QStringLiteral("BT\tBSA\t6");
    QTest::newRow("NUL and DEL are shown by their codes")
        << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("\x7f")) << QStringLiteral("a#00##7F#");
    QTest::newRow("a C1 control character is shown by its code") << QStringLiteral("a\u009b"
                                                                                   "1m")
                                                                 << QStringLiteral("a#9B#1m");
    QTest::newRow("letters of the code page stay as they are")
        << QStringLiteral("caf\u00e9 \u20ac \u00a0") << QStringLiteral("caf\u00e9 \u20ac \u00a0");
}

void TestOperatorLog::everyLineStaysOneLine()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(OperatorLog::shown(message), shown);

    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    QSignalSpy added(&log, &OperatorLog::lineAdded);
    log.Logger(message, At);
    log.addLine(message);
    const QStringList expected { OperatorLog::timeStamp(At) + QStringLiteral(" - ") + shown, shown };
    QCOMPARE(log.lines(), expected);
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(0).at(0).toString(), expected.at(0));
    QVERIFY(log.archive(At));
    QCOMPARE(readFile(log.archiveFileName(At)).count("\r\n"), 2);
}

// Long lines are checked many characters at a time: a character to escape is found wherever it stands, and the
// characters next to the control ranges stay as they are.
void TestOperatorLog::aControlCharacterAnywhereInALongLineIsShownByItsCode_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    const struct
    {
        char16_t code;
        const char16_t *shown;
    } characters[] = {
        { 0x00, u"#00#" },
        { 0x0A, u"#0A#" },
        { 0x1B, u"#1B#" },
        { 0x1F, u"#1F#" },
        { 0x7F, u"#7F#" },
        { 0x80, u"#80#" },
        { 0x9F, u"#9F#" },
        { u'\t', u"\t" },
        { 0x20, u" " },
        { 0x7E, u"~" },
        { 0xA0, u"\u00a0" },
        { 0x20AC, u"\u20ac" },
    };
    constexpr qsizetype Length = 130;
    for (const auto &character : characters) {
        for (const qsizetype at : { 0, 31, 32, 63, 64, 100, 129 }) {
            const QString message = QString(at, u'x') + QChar(character.code) + QString(Length - at - 1, u'y');
            const QString shown
                = QString(at, u'x') + QString::fromUtf16(character.shown) + QString(Length - at - 1, u'y');
            QTest::addRow("U+%04X at %lld", unsigned(character.code), qlonglong(at)) << message << shown;
        }
    }
}

void TestOperatorLog::aControlCharacterAnywhereInALongLineIsShownByItsCode()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(OperatorLog::shown(message), shown);
}

// The stamp of lines logged now is made once per second: it must change exactly when the second does, also when
// the clock is set back, and before 1970 as after.
void TestOperatorLog::theStampOfTheCurrentSecondFollowsTheClock_data()
{
    QTest::addColumn<QList<qint64>>("moments"); // milliseconds since the epoch, in the order they are logged
    const auto at = [](int year, int month, int day, int hour, int minute, int second, int ms) {
        return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms)).toMSecsSinceEpoch();
    };
    QTest::newRow("within one second") << QList<qint64> { at(2026, 12, 10, 14, 3, 7, 0),
        at(2026, 12, 10, 14, 3, 7, 500), at(2026, 12, 10, 14, 3, 7, 999) };
    QTest::newRow("into the next second")
        << QList<qint64> { at(2026, 12, 10, 14, 3, 7, 999), at(2026, 12, 10, 14, 3, 8, 0) };
    QTest::newRow("into the next day and year")
        << QList<qint64> { at(2026, 12, 31, 23, 59, 59, 999), at(2027, 1, 1, 0, 0, 0, 0) };
    QTest::newRow("the clock set back across a second")
        << QList<qint64> { at(2026, 12, 10, 14, 3, 8, 0), at(2026, 12, 10, 14, 3, 7, 999) };
    QTest::newRow("the clock set back an hour, the same minute and second")
        << QList<qint64> { at(2026, 12, 10, 14, 3, 7, 500), at(2026, 12, 10, 13, 3, 7, 500) };
    QTest::newRow("the clock set forward a day, the same time")
        << QList<qint64> { at(2026, 12, 10, 14, 3, 7, 500), at(2026, 12, 11, 14, 3, 7, 500) };
    QTest::newRow("around the epoch") << QList<qint64> { -1001, -1000, -1, 0, 999, 1000 };
}

void TestOperatorLog::theStampOfTheCurrentSecondFollowsTheClock()
{
    QFETCH(QList<qint64>, moments);
    DateTimeText::LogStamps stamps;
    for (const qint64 moment : moments) {
        const QString expected = OperatorLog::timeStamp(QDateTime::fromMSecsSinceEpoch(moment));
        QCOMPARE(stamps.at(moment), expected);
    }
}

void TestOperatorLog::anOverlongLineKeepsItsStartAndSaysItsLength_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<bool>("cut");
    QTest::newRow("a line of the bound's length stays whole") << OperatorLog::MaxLineLength << false;
    QTest::newRow("one character more is cut") << OperatorLog::MaxLineLength + 1 << true;
    QTest::newRow("the line of an envelope of a megabyte is cut") << qsizetype(1024 * 1024 + 15) << true;
}

void TestOperatorLog::anOverlongLineKeepsItsStartAndSaysItsLength()
{
    QFETCH(qsizetype, length);
    QFETCH(bool, cut);
    QString message(length, QLatin1Char('A'));
    message[0] = QLatin1Char('S');
    const QString shown = OperatorLog::shown(message);
    if (!cut) {
        QCOMPARE(shown, message);
        return;
    }
    const QString note = QStringLiteral(" ... [AFGEKORT, REGEL VAN %1 TEKENS]").arg(length);
    QCOMPARE(shown.size(), OperatorLog::MaxLineLength + note.size());
    QVERIFY(shown.startsWith(message.left(OperatorLog::MaxLineLength)));
    QVERIFY(shown.endsWith(note));
    // Escapes count towards the bound as they are shown.
    const QString escaped = OperatorLog::shown(QString(length, QLatin1Char('\n')));
    QVERIFY(escaped.startsWith(QStringLiteral("#0A##0A#")));
    QCOMPARE(escaped.size(), OperatorLog::MaxLineLength + note.size());
}

void TestOperatorLog::aLogPastItsCharacterBoundIsArchivedAtOnce()
{
    // Lines of the longest kind, far fewer than 5000 of them: the log is archived by its size, at the next turn of
    // the event loop, and no archive holds much more than the bound.
    QTemporaryDir dir;
    OperatorLog log(preparedHome(dir));
    QSignalSpy cleared(&log, &OperatorLog::cleared);
    const QString longest(OperatorLog::MaxLineLength, QLatin1Char('4'));
    const int perArchive = int(OperatorLog::MaxCharacters / (longest.size() + 2)) + 1;
    for (int i = 0; i < perArchive; ++i)
        log.addLine(longest);
    QCOMPARE(cleared.count(), 0); // the lines of one event stay together
    QVERIFY(log.characterCount() > OperatorLog::MaxCharacters);
    QVERIFY(cleared.wait(5000));
    QCOMPARE(log.lineCount(), 0);
    QCOMPARE(log.characterCount(), 0);
    const QStringList archives = QDir(log.archiveFolder()).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const qint64 size = QFileInfo(QDir(log.archiveFolder()).filePath(archives.first())).size();
    QCOMPARE(size, qint64(perArchive) * (longest.size() + 2));
    QVERIFY(size <= OperatorLog::MaxCharacters + OperatorLog::MaxLineLength + 2);
    QVERIFY(log.lineCount() < OperatorLog::MaxLines);

    // Housekeeping counts the characters too.
    for (int i = 0; i < perArchive; ++i)
        log.addLine(longest);
    QVERIFY(log.housekeeping(At));
    QCOMPARE(log.lineCount(), 0);
}

void TestOperatorLog::aFailedArchiveOfALargeLogIsTriedAgainOnlyByHousekeeping()
{
    QTemporaryDir home;
    // "BSA" is a file, so no folder for the archives can be made.
    QVERIFY(writeFile(home.filePath(QStringLiteral("BSA")), "geen map"));
    OperatorLog log(home.path());
    const QString longest(OperatorLog::MaxLineLength, QLatin1Char('4'));
    const int perArchive = int(OperatorLog::MaxCharacters / (longest.size() + 2)) + 1;
    for (int i = 0; i < perArchive; ++i)
        log.addLine(longest);
    QTRY_COMPARE_WITH_TIMEOUT(log.lineCount(), perArchive + 1, 5000); // the failure, once
    QVERIFY(log.lines().last().contains(QStringLiteral("Logboek kan niet bewaard worden")));
    // More lines do not try again at every turn: a failing archive must not log its failure in a loop.
    for (int i = 0; i < 3; ++i)
        log.addLine(longest);
    QTest::qWait(50);
    QCOMPARE(log.lineCount(), perArchive + 4);
    QVERIFY(!log.housekeeping(At)); // the tick tries again, and reports again
    QCOMPARE(log.lineCount(), perArchive + 5);

    QVERIFY(QFile::remove(home.filePath(QStringLiteral("BSA")))); // the archive makes its folder itself
    QVERIFY(log.housekeeping(At));
    QCOMPARE(log.lineCount(), 0);
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

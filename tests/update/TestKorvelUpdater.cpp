#include <QtTest>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/TestFiles.h"
#include "tests/support/UpdateSigning.h"

// The updater end to end: a stand-in program hands a download to the real KorvelUpdater and ends; the updater puts
// the download in its place and starts it again, or, when the download is broken or ends right after its start,
// starts the old program again. Every download is checked against its signature as the updater copies it; the
// stand-in names version 9.0.1.15. The settle time is shortened to half a second.
class TestKorvelUpdater final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void replacesTheEndedProgramAndStartsIt();
    void brokenDownloadLeavesTheOldProgramRunning_data();
    void brokenDownloadLeavesTheOldProgramRunning();
    void refusesToRunWithoutItsParameter();

private:
    // The program folder: the stand-in as "KorvelBSA" (version 1), the updater beside it, and "TempDownloads".
    static bool install(const QTemporaryDir &dir);
    // Runs the stand-in until it has ended; the updater it started goes on alone.
    static bool runProgram(const QTemporaryDir &dir);
    static QStringList markerLines(const QTemporaryDir &dir);
};

namespace {

const QFileDevice::Permissions Runnable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
const QFileDevice::Permissions Downloaded
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;

bool copyWith(const QString &from, const QString &to, QFileDevice::Permissions permissions)
{
    return QFile::copy(from, to) && QFile::setPermissions(to, permissions);
}

} // namespace

void TestKorvelUpdater::initTestCase()
{
    if (!BSA_BUILD_TRUSTS_TEST_KEY)
        QSKIP("this build's updater does not trust the tests' update key (scripts/test configures it)");
}

bool TestKorvelUpdater::install(const QTemporaryDir &dir)
{
    return dir.isValid() && copyWith(QStringLiteral(STAND_IN_OLD), dir.filePath(QStringLiteral("KorvelBSA")), Runnable)
        && copyWith(QStringLiteral(KORVEL_UPDATER), dir.filePath(QStringLiteral("KorvelUpdater")), Runnable)
        && QDir(dir.path()).mkdir(QStringLiteral("TempDownloads"));
}

bool TestKorvelUpdater::runProgram(const QTemporaryDir &dir)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KORVEL_UPDATER_SETTLE_MS"), QStringLiteral("500"));
    program.setProcessEnvironment(environment);
    QSignalSpy finished(&program, &QProcess::finished);
    program.start(dir.filePath(QStringLiteral("KorvelBSA")), { dir.filePath(QStringLiteral("marker.txt")) });
    return finished.wait(10000) && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
}

QStringList TestKorvelUpdater::markerLines(const QTemporaryDir &dir)
{
    return QString::fromUtf8(readFile(dir.filePath(QStringLiteral("marker.txt")))).split(u'\n', Qt::SkipEmptyParts);
}

void TestKorvelUpdater::replacesTheEndedProgramAndStartsIt()
{
    BSA_SIGNS_WITH_MINISIGN();
    QTemporaryDir dir;
    QVERIFY(install(dir));
    const QString download = dir.filePath(QStringLiteral("TempDownloads/KorvelBSA"));
    QVERIFY(copyWith(QStringLiteral(STAND_IN_NEW), download, Downloaded));
    const QByteArray newProgram = readFile(download);
    QVERIFY(
        UpdateSigning::signFile(download, download + QStringLiteral(".minisig"), QStringLiteral("KorvelBSA 9.0.1.15")));

    QVERIFY(runProgram(dir));
    QTRY_COMPARE_WITH_TIMEOUT(
        markerLines(dir), QStringList({ QStringLiteral("ran 1"), QStringLiteral("ran 2") }), 20000);
    // The program may run before the updater has tidied up and written its last line.
    const QString logFile = dir.filePath(QStringLiteral("KorvelUpdater.log"));
    QTRY_VERIFY_WITH_TIMEOUT(readFile(logFile).contains("Klaar (0)"), 10000);
    QVERIFY(readFile(logFile).contains("Het nieuwe programma staat op zijn plaats"));
    QVERIFY(readFile(logFile).contains("draait na 0.5 seconden nog"));
    const QString program = dir.filePath(QStringLiteral("KorvelBSA"));
    QCOMPARE(readFile(program), newProgram);
    QVERIFY(QFileInfo(program).isExecutable()); // the run bit of the old program, not the download's
    QVERIFY(!QFile::exists(download));
    QVERIFY(!QFile::exists(download + QStringLiteral(".minisig")));
    QVERIFY(!QFile::exists(program + QStringLiteral(".vorige")));
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning_data()
{
    QTest::addColumn<QByteArray>("download"); // "(none)": no file at all
    QTest::addColumn<QString>("signature"); // "valid", "none", "other version", or "changed after": the download
                                            // changed once it was signed and checked
    QTest::addColumn<QByteArray>("logged"); // why, in the updater's log
    const QString valid = QStringLiteral("valid");
    QTest::newRow("the download is not a program")
        << QByteArray("<html>502 Bad Gateway</html>\n") << valid << QByteArray("kan niet gestart worden");
    QTest::newRow("the download is empty") << QByteArray() << valid << QByteArray("ontbreekt of is leeg");
    QTest::newRow("the download is gone") << QByteArray("(none)") << valid << QByteArray("ontbreekt of is leeg");
    // As a program does whose library is missing: it starts, and ends at once.
    QTest::newRow("the download ends right after its start")
        << QByteArray("#!/bin/sh\nexit 127\n") << valid << QByteArray("binnen 0.5 seconden na de start gestopt");
    const QByteArray runs("#!/bin/sh\necho ran changed >> \"$1\"\n");
    QTest::newRow("the download changed after the program checked it")
        << runs << QStringLiteral("changed after")
        << QByteArray("de handtekening klopt niet: de handtekening past niet");
    QTest::newRow("no signature beside the download")
        << runs << QStringLiteral("none") << QByteArray("KorvelBSA.minisig kan niet gelezen worden");
    QTest::newRow("a signature for another version")
        << runs << QStringLiteral("other version") << QByteArray("verwacht \"KorvelBSA 9.0.1.15\"");
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning()
{
    BSA_SIGNS_WITH_MINISIGN();
    QFETCH(QByteArray, download);
    QFETCH(QString, signature);
    QFETCH(QByteArray, logged);
    QTemporaryDir dir;
    QVERIFY(install(dir));
    const QString program = dir.filePath(QStringLiteral("KorvelBSA"));
    const QByteArray oldProgram = readFile(program);
    const QString downloadFile = dir.filePath(QStringLiteral("TempDownloads/KorvelBSA"));
    const QString signatureFile = downloadFile + QStringLiteral(".minisig");
    if (download != "(none)") {
        QVERIFY(writeFile(downloadFile, download));
        QVERIFY(QFile::setPermissions(downloadFile, Runnable));
        if (signature != u"none") {
            const QString version
                = signature == u"other version" ? QStringLiteral("9.0.1.16") : QStringLiteral("9.0.1.15");
            QVERIFY(UpdateSigning::signFile(downloadFile, signatureFile, QStringLiteral("KorvelBSA ") + version));
        }
        if (signature == u"changed after")
            QVERIFY(writeFile(downloadFile, download + "echo ran changed twice >> \"$1\"\n"));
    }

    QVERIFY(runProgram(dir));
    QTRY_COMPARE_WITH_TIMEOUT(
        markerLines(dir), QStringList({ QStringLiteral("ran 1"), QStringLiteral("ran 1") }), 20000);
    const QString logFile = dir.filePath(QStringLiteral("KorvelUpdater.log"));
    QTRY_VERIFY_WITH_TIMEOUT(readFile(logFile).contains("Klaar (1)"), 10000);
    QVERIFY2(readFile(logFile).contains(logged), readFile(logFile).constData());
    QVERIFY(!readFile(logFile).contains("Klaar (0)"));
    QCOMPARE(readFile(program), oldProgram);
    QVERIFY(QFileInfo(program).isExecutable());
    QVERIFY(!QFile::exists(program + QStringLiteral(".vorige")));
}

void TestKorvelUpdater::refusesToRunWithoutItsParameter()
{
    QProcess updater;
    QSignalSpy finished(&updater, &QProcess::finished);
    updater.start(QStringLiteral(KORVEL_UPDATER), {});
    QVERIFY(finished.wait(10000));
    QCOMPARE(updater.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestKorvelUpdater)
#include "TestKorvelUpdater.moc"

#include <QtTest>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/TestFiles.h"

// The updater end to end: a stand-in program hands a download to the real KorvelUpdater and ends; the updater puts
// the download in its place and starts it again, or, when the download is broken or ends right after its start,
// starts the old program again. The settle time is shortened to half a second.
class TestKorvelUpdater final : public QObject
{
    Q_OBJECT
private slots:
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
    QTemporaryDir dir;
    QVERIFY(install(dir));
    const QString download = dir.filePath(QStringLiteral("TempDownloads/KorvelBSA"));
    QVERIFY(copyWith(QStringLiteral(STAND_IN_NEW), download, Downloaded));
    const QByteArray newProgram = readFile(download);

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
    QVERIFY(!QFile::exists(program + QStringLiteral(".vorige")));
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning_data()
{
    QTest::addColumn<QByteArray>("download"); // "(none)": no file at all
    QTest::addColumn<QByteArray>("logged"); // why, in the updater's log
    QTest::newRow("the download is not a program")
        << QByteArray("<html>502 Bad Gateway</html>\n") << QByteArray("kan niet gestart worden");
    QTest::newRow("the download is empty") << QByteArray() << QByteArray("ontbreekt of is leeg");
    QTest::newRow("the download is gone") << QByteArray("(none)") << QByteArray("ontbreekt of is leeg");
    // As a program does whose library is missing: it starts, and ends at once.
    QTest::newRow("the download ends right after its start")
        << QByteArray("#!/bin/sh\nexit 127\n") << QByteArray("binnen 0.5 seconden na de start gestopt");
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning()
{
    QFETCH(QByteArray, download);
    QFETCH(QByteArray, logged);
    QTemporaryDir dir;
    QVERIFY(install(dir));
    const QString program = dir.filePath(QStringLiteral("KorvelBSA"));
    const QByteArray oldProgram = readFile(program);
    if (download != "(none)")
        QVERIFY(writeFile(dir.filePath(QStringLiteral("TempDownloads/KorvelBSA")), download));

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

#include <QtTest>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/TestFiles.h"

// The updater end to end: a stand-in program hands a download to the real KorvelUpdater and ends; the updater puts
// the download in its place and starts it again, or, when the download is broken, starts the old program again.
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
    const QString program = dir.filePath(QStringLiteral("KorvelBSA"));
    QCOMPARE(readFile(program), newProgram);
    QVERIFY(QFileInfo(program).isExecutable()); // the run bit of the old program, not the download's
    QVERIFY(!QFile::exists(download));
    QVERIFY(!QFile::exists(program + QStringLiteral(".vorige")));
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning_data()
{
    QTest::addColumn<QByteArray>("download"); // "(none)": no file at all
    QTest::newRow("the download is not a program") << QByteArray("<html>502 Bad Gateway</html>\n");
    QTest::newRow("the download is empty") << QByteArray();
    QTest::newRow("the download is gone") << QByteArray("(none)");
}

void TestKorvelUpdater::brokenDownloadLeavesTheOldProgramRunning()
{
    QFETCH(QByteArray, download);
    QTemporaryDir dir;
    QVERIFY(install(dir));
    const QString program = dir.filePath(QStringLiteral("KorvelBSA"));
    const QByteArray oldProgram = readFile(program);
    if (download != "(none)")
        QVERIFY(writeFile(dir.filePath(QStringLiteral("TempDownloads/KorvelBSA")), download));

    QVERIFY(runProgram(dir));
    QTRY_COMPARE_WITH_TIMEOUT(
        markerLines(dir), QStringList({ QStringLiteral("ran 1"), QStringLiteral("ran 1") }), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(dir.filePath(QStringLiteral("KorvelUpdater.log"))).contains("Klaar (1)"), 10000);
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

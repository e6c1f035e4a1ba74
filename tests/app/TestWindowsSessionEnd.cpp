#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <qt_windows.h>

#include "tests/support/FreePort.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"

// The end of the user's session on Windows reaches a program through its top-level windows only: the program
// without a window hears it through a hidden one and ends through its close sequence before Windows ends the
// process. Sent here as Windows sends it: WM_QUERYENDSESSION to every top-level window, then WM_ENDSESSION.
class TestWindowsSessionEnd final : public QObject
{
    Q_OBJECT

private slots:
    void theSessionEndRunsTheCloseSequence_data();
    void theSessionEndRunsTheCloseSequence();
    void aRequestToEndRunsTheCloseSequence();
};

namespace {
struct Search
{
    DWORD process;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto *search = reinterpret_cast<Search *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 63);
    if (owner == search->process && QString::fromWCharArray(className) == QLatin1String("KorvelBSASessionEnd")) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND sessionWindowOf(const QProcess &program)
{
    Search search { DWORD(program.processId()), nullptr };
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

LRESULT sendBounded(HWND window, UINT message, WPARAM wParam)
{
    DWORD_PTR result = 0;
    const LRESULT sent
        = SendMessageTimeoutW(window, message, wParam, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, &result);
    return sent ? LRESULT(result) : -1;
}

bool waitForOutput(QProcess &program, QByteArray &output, const QByteArray &text)
{
    QDeadlineTimer deadline(20000);
    while (!output.contains(text) && !deadline.hasExpired() && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        output += program.readAllStandardOutput();
    }
    return output.contains(text);
}

// The program without its window on the program folder `home`, until its server listens.
bool startListening(QProcess &program, const QTemporaryDir &home, QByteArray &output)
{
    program.start(QStringLiteral(KORVELBSA_PROGRAM),
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
    return program.waitForStarted(10000) && waitForOutput(program, output, "BSA Callcenter Server werd gestart");
}
} // namespace

void TestWindowsSessionEnd::theSessionEndRunsTheCloseSequence_data()
{
    QTest::addColumn<bool>("ending");
    QTest::newRow("the session ends: the close sequence runs before the answer") << true;
    QTest::newRow("the end was called off: the link goes on") << false;
}

void TestWindowsSessionEnd::theSessionEndRunsTheCloseSequence()
{
    QFETCH(bool, ending);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    const QByteArray written = readFile(home.filePath("KorvelBSA.xml"));
    QProcess program;
    QByteArray output;
    QVERIFY2(startListening(program, home, output), output.constData());

    HWND window = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((window = sessionWindowOf(program)) != nullptr, 10000);
    QCOMPARE(sendBounded(window, WM_QUERYENDSESSION, 0), LRESULT(TRUE)); // nothing in the session's way
    QCOMPARE(sendBounded(window, WM_ENDSESSION, ending ? TRUE : FALSE), LRESULT(0));

    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList(QDir::Files);
    if (!ending) {
        // Nothing ended: no archive, and the program still runs until it is told otherwise.
        QCOMPARE(archives, QStringList());
        QVERIFY(!program.waitForFinished(1000));
        program.kill();
        QVERIFY(program.waitForFinished(10000));
        return;
    }
    // By the time WM_ENDSESSION was answered the log was archived and the settings written: Windows may end the
    // process right after.
    QCOMPARE(archives.size(), 1);
    QVERIFY(readFile(home.filePath("BSA/LOGS/" + archives.first())).contains("afsluiten software geaccepteerd"));
    const QByteArray settings = readFile(home.filePath("KorvelBSA.xml"));
    QVERIFY2(settings != written && settings.contains("<xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>"),
        settings.constData());
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
}

void TestWindowsSessionEnd::aRequestToEndRunsTheCloseSequence()
{
    // QProcess::terminate() and taskkill without /F post WM_CLOSE to the program's windows: as SIGTERM on Linux.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    QProcess program;
    QByteArray output;
    QVERIFY2(startListening(program, home, output), output.constData());
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindowOf(program) != nullptr, 10000);
    program.terminate();
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList(QDir::Files);
    QCOMPARE(archives.size(), 1);
    QVERIFY(readFile(home.filePath("BSA/LOGS/" + archives.first())).contains("afsluiten software geaccepteerd"));
    QVERIFY(!QFile::exists(home.filePath("KorvelBSA.lock"))); // the folder is free again
}

QTEST_GUILESS_MAIN(TestWindowsSessionEnd)
#include "TestWindowsSessionEnd.moc"


#include <QtTest>
#include <QCryptographicHash>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "codec/Envelope.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateSigning.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "tests/support/UnixOnly.h"

// The update through the program itself: its window, under the offscreen platform, worked by the driver built into
// KorvelBSADriver; the description and the download on a loopback HTTP server; the real KorvelUpdater beside the
// program. Each test runs a copy of the program in a program folder of its own, so the build's programs stay as
// they are.
class TestProgramUpdate final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void handsTheDownloadToTheUpdater_data();
    void handsTheDownloadToTheUpdater();
    void aProgramItsUserCannotReplaceOffersNoDownload();
    void aRideIsAnsweredWhileTheCheckWaits();
    void toldToEndDuringADownloadTheProgramEndsAndLeavesNoFile();
    void toldToEndBeforeTheHandOffTheProgramEndsWithoutIt();

private:
    QUrl describe(const QByteArray &description);

    LoopbackHttpServer m_server;
};

namespace {

const QFileDevice::Permissions Runnable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
const QFileDevice::Permissions ReadOnlyFolder = Runnable & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser);

const QString HandOffBox = QStringLiteral("box Rovix Korvel® Kwendel gaat nu starten");

QStringList lines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).remove(u'\r').split(u'\n', Qt::SkipEmptyParts);
}

QByteArray sha1Of(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toUpper();
}

bool copyWith(const QString &from, const QString &to, QFileDevice::Permissions permissions)
{
    return QFile::copy(from, to) && QFile::setPermissions(to, permissions);
}

// The program as "KorvelBSA" with the updater beside it.
bool install(const QString &folder)
{
    return copyWith(QStringLiteral(PROGRAM_DRIVER), QDir(folder).filePath(QStringLiteral("KorvelBSA")), Runnable)
        && copyWith(QStringLiteral(KORVEL_UPDATER), QDir(folder).filePath(QStringLiteral("KorvelUpdater")), Runnable);
}

QStringList programArguments(const QString &home, quint16 serverPort, const QUrl &updateFileURL)
{
    return { QStringLiteral("--home"), home, QStringLiteral("--server-port"), QString::number(serverPort),
        QStringLiteral("--update-url"), updateFileURL.toString() };
}

void startProgram(QProcess &process, const QString &program, const QStringList &arguments,
    const QProcessEnvironment &extra = QProcessEnvironment())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The updater counts the new version as started once it has kept running this long.
    environment.insert(QStringLiteral("KORVEL_UPDATER_SETTLE_MS"), QStringLiteral("500"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
}

// Connects to the link's BSA server, which starts at the program's first tick.
bool connectToLink(QTcpSocket &bsa, quint16 port)
{
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        bsa.abort();
        bsa.connectToHost(QHostAddress::LocalHost, port);
        (void)QTest::qWaitFor(
            [&] {
                return bsa.state() != QAbstractSocket::ConnectingState
                    && bsa.state() != QAbstractSocket::HostLookupState;
            },
            2000);
        if (bsa.state() == QAbstractSocket::ConnectedState)
            return true;
        QTest::qWait(100);
    }
    return false;
}

} // namespace

void TestProgramUpdate::initTestCase()
{
    if (!BSA_BUILD_TRUSTS_TEST_KEY)
        QSKIP("this build does not trust the tests' update key (scripts/test configures it)");
    QVERIFY(m_server.listen());
}

// Offers the description at an address of its own.
QUrl TestProgramUpdate::describe(const QByteArray &description)
{
    static int serial = 0;
    const QByteArray path = "/description-" + QByteArray::number(++serial) + ".ini";
    m_server.answer(path, HttpAnswer::ok(description));
    return m_server.url(path);
}

void TestProgramUpdate::handsTheDownloadToTheUpdater_data()
{
    QTest::addColumn<QByteArray>("download"); // "(next)": the stand-in of the next version
    QTest::addColumn<bool>("hashMatches");
    QTest::addColumn<QString>("signedBy"); // the key pair that signed the download
    QTest::addColumn<QString>("runsAfter"); // "next", "old" (the program started again), or "" (it never ended)
    const QString fixture = QStringLiteral("fixture");
    QTest::newRow("a verified next version takes the program's place and starts with the same arguments")
        << QByteArray("(next)") << true << fixture << "next";
    QTest::newRow("a verified download that does not run: the updater puts the old program back and starts it")
        << QByteArray("<html>502 Bad Gateway</html>\n") << true << fixture << "old";
    QTest::newRow("a verified download that ends right after its start is rolled back as well")
        << QByteArray("#!/bin/sh\nexit 127\n") << true << fixture << "old";
    QTest::newRow("a damaged download never reaches the updater and the program goes on")
        << QByteArray("(next)") << false << fixture << "";
    QTest::newRow("a download signed with a key the program does not know never reaches the updater")
        << QByteArray("(next)") << true << "other"
        << "";
}

void TestProgramUpdate::handsTheDownloadToTheUpdater()
{
    BSA_SIGNS_WITH_MINISIGN();
    QFETCH(QByteArray, download);
    QFETCH(bool, hashMatches);
    QFETCH(QString, signedBy);
    QFETCH(QString, runsAfter);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(install(dir.path()));
    const QString programFile = dir.filePath(QStringLiteral("KorvelBSA"));
    const QByteArray oldProgram = readFile(programFile);

    const QByteArray bytes = download == "(next)" ? readFile(QStringLiteral(NEXT_VERSION)) : download;
    QVERIFY(!bytes.isEmpty());
    static int serial = 0;
    const QByteArray path = "/download-" + QByteArray::number(++serial) + "/KorvelBSA";
    m_server.answer(path, HttpAnswer::ok(bytes));
    const QByteArray signature = UpdateSigning::signatureOf(bytes, QStringLiteral("KorvelBSA 99.0.0.0"), signedBy);
    QVERIFY(!signature.isEmpty());
    m_server.answer(path + ".minisig", HttpAnswer::ok(signature));
    const QUrl description = describe("[KorvelBSA]\nVersion=99.0.0.0\nDownloadFileURL=" + m_server.url(path).toEncoded()
        + "\nSHA1Hash=" + (hashMatches ? sha1Of(bytes) : sha1Of("another program")) + "\n");
    const QStringList arguments = programArguments(dir.path(), freeLoopbackPort(), description);
    const QString ran = QStringLiteral("ran ") + arguments.join(u' ');

    QProcess program;
    QSignalSpy finished(&program, &QProcess::finished);
    startProgram(program, programFile, arguments);
    QVERIFY(finished.wait(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    const QString driverNotes = dir.filePath(QStringLiteral("driver.txt"));
    const QString updaterLog = dir.filePath(QStringLiteral("KorvelUpdater.log"));
    const QString nextNotes = dir.filePath(QStringLiteral("next-version.txt"));
    QStringList firstRun { ran, QStringLiteral("pressed UPDATE CONTROLE"),
        QStringLiteral("offer download=on readme=") };
    if (runsAfter.isEmpty()) {
        firstRun << QStringLiteral("box De download is beschadigd.") << QStringLiteral("ending")
                 << QStringLiteral("ended");
        QCOMPARE(lines(driverNotes), firstRun);
        QVERIFY(!QFile::exists(updaterLog));
        QCOMPARE(readFile(programFile), oldProgram);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files), QStringList());
    } else {
        // Ended by the hand-off, without the close question: the edit is stored, the log is not archived.
        firstRun << HandOffBox << QStringLiteral("ended");
        QCOMPARE(lines(driverNotes), firstRun);
        QVERIFY(readFile(dir.filePath(QStringLiteral("KorvelBSA.xml"))).contains("<BSA_BDR_Text>42</BSA_BDR_Text>"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("BSA/LOGS"))).entryList(QDir::Files), QStringList());
        QCOMPARE(readFile(dir.filePath(QStringLiteral("Backups/KorvelBSA"))), oldProgram);
    }
    if (runsAfter == u"next") {
        const QStringList nextRun { ran };
        QTRY_COMPARE_WITH_TIMEOUT(lines(nextNotes), nextRun, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(updaterLog).contains("Klaar (0)"), 10000);
        QCOMPARE(readFile(programFile), bytes);
        QVERIFY(QFileInfo(programFile).isExecutable());
        QCOMPARE(QDir(dir.filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files), QStringList());
    }
    if (runsAfter == u"old") {
        const QStringList bothRuns = firstRun
            + QStringList { ran, QStringLiteral("again"), QStringLiteral("ending"), QStringLiteral("ended") };
        QTRY_COMPARE_WITH_TIMEOUT(lines(driverNotes), bothRuns, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readFile(updaterLog).contains("Klaar (1)"), 10000);
        QVERIFY(!readFile(updaterLog).contains("Klaar (0)"));
        QCOMPARE(readFile(programFile), oldProgram);
        QVERIFY(!QFile::exists(nextNotes));
    }
}

void TestProgramUpdate::aProgramItsUserCannotReplaceOffersNoDownload()
{
    BSA_UNIX_ONLY("file modes that keep a user from writing in a folder");
    // The program in a folder its user cannot write to, as a package installs it, and the program folder (--home)
    // elsewhere. Root writes everywhere, so as root the program runs as nobody.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString programs = dir.filePath(QStringLiteral("programs"));
    const QString home = dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(programs) && QDir().mkpath(home));
    QVERIFY(install(programs));
    QVERIFY(QFile::setPermissions(programs, ReadOnlyFolder));
    const auto writable = qScopeGuard([&] { QFile::setPermissions(programs, Runnable); });

    const QByteArray downloadPath = "/package/KorvelBSA";
    m_server.answer(downloadPath, HttpAnswer::ok("the next version"));
    const QUrl description = describe("[KorvelBSA]\nVersion=99.0.0.0\nDownloadFileURL="
        + m_server.url(downloadPath).toEncoded() + "\nSHA1Hash=" + sha1Of("the next version") + "\n");
    const QStringList arguments = programArguments(home, freeLoopbackPort(), description);
    QString command = QDir(programs).filePath(QStringLiteral("KorvelBSA"));
    QStringList commandArguments = arguments;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            return QTest::qSkip("running as root without setpriv to run as another user", __FILE__, __LINE__);
        QVERIFY(QFile::setPermissions(dir.path(), Runnable));
        QCOMPARE(::chown(home.toLocal8Bit().constData(), 65534, 65534), 0);
        commandArguments = QStringList {
            QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), command
        } + arguments;
        command = setpriv;
    }

    QProcess program;
    QSignalSpy finished(&program, &QProcess::finished);
    startProgram(program, command, commandArguments);
    QVERIFY(finished.wait(60000));
    QCOMPARE(program.exitCode(), 0);
    const QStringList notes = lines(QDir(home).filePath(QStringLiteral("driver.txt")));
    QCOMPARE(notes.size(), 5);
    QCOMPARE(notes.at(1), QStringLiteral("pressed UPDATE CONTROLE"));
    QVERIFY2(notes.at(2).startsWith(QStringLiteral("offer download=off readme=Deze installatie wordt bijgewerkt via "
                                                   "het pakketbeheer")),
        qPrintable(notes.at(2)));
    QCOMPARE(notes.at(3), QStringLiteral("ending"));
    QCOMPARE(notes.at(4), QStringLiteral("ended"));
    for (const LoopbackHttpServer::Request &request : std::as_const(m_server.requests))
        QVERIFY(request.path != downloadPath);
}

void TestProgramUpdate::aRideIsAnsweredWhileTheCheckWaits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(install(dir.path()));
    QVERIFY(writeSqliteSettings(dir.path(), settingsLine("BSAAuto_Checked", "TRUE")));
    // A server that takes the request for the description and never answers it.
    LoopbackHttpServer slow;
    QVERIFY(slow.listen());
    HttpAnswer never;
    never.delivery = HttpAnswer::Delivery::Never;
    slow.answer("/KorvelBSA.ini", never);
    QSignalSpy requested(&slow, &LoopbackHttpServer::requestReceived);

    const quint16 port = freeLoopbackPort();
    QProcess program;
    QSignalSpy finished(&program, &QProcess::finished);
    startProgram(program, dir.filePath(QStringLiteral("KorvelBSA")),
        programArguments(dir.path(), port, slow.url("/KorvelBSA.ini")));
    QVERIFY(requested.wait(30000)); // the check waits for its description from here on

    QTcpSocket bsa;
    QVERIFY(connectToLink(bsa, port));
    bsa.write(Inpakken(RideMessageBuilder(4711, QDateTime::currentDateTime()).text(), false));
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += bsa.readAll()).contains("<EINDE>"), 10000);
    QCOMPARE(SplitsVelden(Uitpakken(answer)).value(0), QStringLiteral("AC"));
    // The answer came while the check still waits: its request is open and nothing of the update has shown.
    QCOMPARE(slow.openConnections, 1);
    QCOMPARE(requested.size(), 1);
    QCOMPARE(lines(dir.filePath(QStringLiteral("driver.txt"))).value(1), QStringLiteral("pressed UPDATE CONTROLE"));
    QCOMPARE(lines(dir.filePath(QStringLiteral("driver.txt"))).size(), 2);

    // Told to end, the program ends its check with it.
    program.terminate();
    QVERIFY(finished.wait(30000));
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(slow.openConnections, 0, 10000);
}

void TestProgramUpdate::toldToEndDuringADownloadTheProgramEndsAndLeavesNoFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(install(dir.path()));
    // Half the download comes; the rest waits.
    LoopbackHttpServer held;
    QVERIFY(held.listen());
    const QByteArray next = readFile(QStringLiteral(NEXT_VERSION));
    HttpAnswer halfway = HttpAnswer::ok(next);
    halfway.delivery = HttpAnswer::Delivery::HalfThenHold;
    held.answer("/download/KorvelBSA", halfway);
    held.answer("/KorvelBSA.ini",
        HttpAnswer::ok("[KorvelBSA]\nVersion=99.0.0.0\nDownloadFileURL=" + held.url("/download/KorvelBSA").toEncoded()
            + "\nSHA1Hash=" + sha1Of(next) + "\n"));
    QSignalSpy requested(&held, &LoopbackHttpServer::requestReceived);

    QProcess program;
    QSignalSpy finished(&program, &QProcess::finished);
    startProgram(program, dir.filePath(QStringLiteral("KorvelBSA")),
        programArguments(dir.path(), freeLoopbackPort(), held.url("/KorvelBSA.ini")));
    // The description, HEAD and GET of the download.
    QTRY_VERIFY_WITH_TIMEOUT(requested.size() == 3, 30000);
    QCOMPARE(held.requests.constLast().method, QByteArray("GET"));

    program.terminate();
    QVERIFY(finished.wait(30000));
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(held.openConnections, 0, 10000);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("TempDownloads"))).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(lines(dir.filePath(QStringLiteral("driver.txt"))).constLast(), QStringLiteral("ended"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("KorvelUpdater.log"))));
}

void TestProgramUpdate::toldToEndBeforeTheHandOffTheProgramEndsWithoutIt()
{
    BSA_SIGNS_WITH_MINISIGN();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(install(dir.path()));
    const QString programFile = dir.filePath(QStringLiteral("KorvelBSA"));
    const QByteArray oldProgram = readFile(programFile);
    const QByteArray next = readFile(QStringLiteral(NEXT_VERSION));
    m_server.answer("/held-box/KorvelBSA", HttpAnswer::ok(next));
    m_server.answer("/held-box/KorvelBSA.minisig",
        HttpAnswer::ok(UpdateSigning::signatureOf(next, QStringLiteral("KorvelBSA 99.0.0.0"))));
    const QUrl description = describe("[KorvelBSA]\nVersion=99.0.0.0\nDownloadFileURL="
        + m_server.url("/held-box/KorvelBSA").toEncoded() + "\nSHA1Hash=" + sha1Of(next) + "\n");
    QProcessEnvironment holding;
    holding.insert(QStringLiteral("DRIVER_HOLDS_HAND_OFF"), QStringLiteral("1"));

    QProcess program;
    QSignalSpy finished(&program, &QProcess::finished);
    startProgram(program, programFile, programArguments(dir.path(), freeLoopbackPort(), description), holding);
    const QString driverNotes = dir.filePath(QStringLiteral("driver.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(lines(driverNotes).contains(QStringLiteral("holding")), 60000);
    QVERIFY(lines(driverNotes).contains(HandOffBox));

    // A termination request, as the service manager or a shut-down sends it, is no OK to the box.
    program.terminate();
    QVERIFY(finished.wait(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(lines(driverNotes).constLast(), QStringLiteral("ended"));
    // An updater started at the end would have written its log by now; the wait is bounded either way.
    QTest::qWait(2000);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("KorvelUpdater.log"))));
    QCOMPARE(readFile(programFile), oldProgram);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("next-version.txt"))));
}

QTEST_GUILESS_MAIN(TestProgramUpdate)
#include "TestProgramUpdate.moc"


#include <optional>

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpExchange.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "tests/support/UnixOnly.h"

// KorvelBSA's options for an administrator, run as the program itself: the one address the BSA server listens on,
// the status port for the monitoring, and the program folder it takes when it was installed where it cannot write.
class TestProgramOptions final : public QObject
{
    Q_OBJECT
private slots:
    void listensOnlyOnTheGivenAddress_data();
    void listensOnlyOnTheGivenAddress();
    void statusPortAnswersForTheRunningLink_data();
    void statusPortAnswersForTheRunningLink();
    void programFolderWhenNoneIsGiven_data();
    void programFolderWhenNoneIsGiven();
};

namespace {

const QFileDevice::Permissions Runnable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
const QFileDevice::Permissions ReadOnlyFolder = Runnable & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser);
constexpr uint Nobody = 65534;

QByteArray automaticStartLine(bool automaticStart)
{
    return settingsLine("BSAAuto_Checked", automaticStart ? "TRUE" : "FALSE");
}

QAbstractSocket::SocketState connectState(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), port);
    (void)QTest::qWaitFor(
        [&] {
            return socket.state() == QAbstractSocket::ConnectedState
                || socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    return socket.state();
}

// The kind of the answer ("AC", "NC") to one ride, or an empty text.
QString answerTo(quint16 port, int rideNumber)
{
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return bsa.state() == QAbstractSocket::ConnectedState; }, 5000))
        return QString();
    bsa.write(Inpakken(RideMessageBuilder(rideNumber, QDateTime::currentDateTime()).text(), false));
    EnvelopeFramer framer;
    std::optional<QByteArray> answer;
    (void)QTest::qWaitFor(
        [&] {
            framer.append(bsa.readAll());
            answer = framer.takeEnvelope();
            return answer.has_value();
        },
        10000);
    return answer ? SplitsVelden(HexNaarTekst(*answer)).value(0) : QString();
}

} // namespace

void TestProgramOptions::listensOnlyOnTheGivenAddress_data()
{
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QString>("other"); // another address of this machine, where nothing may answer
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.2");
    QTest::newRow("another loopback address") << QStringLiteral("127.0.0.2") << QStringLiteral("127.0.0.1");
}

void TestProgramOptions::listensOnlyOnTheGivenAddress()
{
    QFETCH(QString, listen);
    QFETCH(QString, other);
    QTemporaryDir home;
    QVERIFY(writeSqliteSettings(home.path(), automaticStartLine(false)));
    const quint16 port = freeLoopbackPort();
    ProgramRun program;
    QVERIFY(program.startHeadless(home.path(), port, { "--listen", listen }));
    // The line keeps its form: the computer's name, not the address.
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart op adres " + QHostInfo::localHostName().toUtf8()
                     + " via poort " + QByteArray::number(port) + "\n",
                 15000),
        program.output().constData());
    QCOMPARE(connectState(listen, port), QAbstractSocket::ConnectedState);
    QCOMPARE(connectState(other, port), QAbstractSocket::UnconnectedState);
    QCOMPARE(program.stop(), 0);
}

void TestProgramOptions::statusPortAnswersForTheRunningLink_data()
{
    QTest::addColumn<bool>("headless");
    QTest::newRow("headless") << true;
    QTest::newRow("with the window") << false;
}

void TestProgramOptions::statusPortAnswersForTheRunningLink()
{
    BSA_UNIX_ONLY("the status port, a feature of the Linux service");
    QFETCH(bool, headless);
    QTemporaryDir home;
    QVERIFY(writeSqliteSettings(
        home.path(), automaticStartLine(!headless))); // the window starts the server at its first tick when told to
    const quint16 port = freeLoopbackPort();
    const quint16 statusPort = freeLoopbackPort();
    QStringList arguments { "--home", home.path(), "--server-port", QString::number(port), "--status-port",
        QString::number(statusPort) };
    if (headless)
        arguments.prepend(QStringLiteral("--headless"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ProgramRun program;
    program.setEnvironment(environment);
    QVERIFY(program.start(QStringLiteral(KORVELBSA_PROGRAM), arguments));

    QTRY_COMPARE_WITH_TIMEOUT(httpGet(statusPort, "/health").status, 200, 20000);
    QCOMPARE(answerTo(port, 4711), QStringLiteral("AC"));
    const HttpReply metrics = httpGet(statusPort, "/metrics");
    QCOMPARE(metrics.status, 200);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_rides_answered_total{kind=\"BN\",answer=\"AC\"}"), 1.0);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_answer_latency_seconds_count"), 1.0);
    QCOMPARE(program.stop(), 0);
    if (headless)
        QVERIFY2(program.output().contains("Status voor de bewaking op http://127.0.0.1:"
                     + QByteArray::number(statusPort) + "/health en /metrics\n"),
            program.output().constData());
}

void TestProgramOptions::programFolderWhenNoneIsGiven_data()
{
    QTest::addColumn<bool>("writable"); // the folder of the program file, for the user who runs it
    QTest::newRow("the program's own folder, where it may write") << true;
    QTest::newRow("the user's data folder, when the program's is not writable") << false;
}

void TestProgramOptions::programFolderWhenNoneIsGiven()
{
    QFETCH(bool, writable);
    if (!writable)
        BSA_UNIX_ONLY("a folder its user cannot write to that a test can make (an access list of its own)");
    // A copy of the program in a folder of its own, run without --home. Root writes everywhere, so as root the
    // program runs as nobody.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString programs = dir.filePath(QStringLiteral("programs"));
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(programs) && QDir().mkpath(data));
    const QString programFile = QDir(programs).filePath(QStringLiteral("KorvelBSA"));
    QVERIFY(QFile::copy(QStringLiteral(KORVELBSA_PROGRAM), programFile));
    QVERIFY(QFile::setPermissions(programFile, Runnable));
    QVERIFY(QFile::setPermissions(programs, writable ? Runnable : ReadOnlyFolder));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(programs, Runnable); });

    QString command = programFile;
    const QStringList arguments { "--headless", "--server-port", QString::number(freeLoopbackPort()) };
    QStringList commandArguments = arguments;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv to run as another user");
        QVERIFY(QFile::setPermissions(dir.path(), Runnable));
        for (const QString &folder : { data, writable ? programs : QString() }) {
            if (!folder.isEmpty())
                QCOMPARE(::chown(folder.toLocal8Bit().constData(), Nobody, Nobody), 0);
        }
        commandArguments = QStringList { QStringLiteral("--reuid=%1").arg(Nobody),
            QStringLiteral("--regid=%1").arg(Nobody), QStringLiteral("--clear-groups"), command }
            + arguments;
        command = setpriv;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    environment.insert(QStringLiteral("HOME"), data);
    ProgramRun program;
    program.setEnvironment(environment);
    QVERIFY(program.start(command, commandArguments));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart", 15000), program.output().constData());
    QCOMPARE(program.stop(), 0);

    const QString own = QDir(data).filePath(QStringLiteral("korvelbsa"));
    const QString used = writable ? programs : own;
    const QByteArray note = "Programmamap " + own.toUtf8() + ": de map van het programma, " + programs.toUtf8()
        + ", is niet schrijfbaar\n";
    QCOMPARE(program.output().contains(note), !writable);
    QVERIFY2(QFile::exists(QDir(used).filePath(QStringLiteral("KorvelBSA.xml"))), program.output().constData());
    const QDir logs(QDir(used).filePath(QStringLiteral("BSA/LOGS")));
    const QStringList archives = logs.entryList({ QStringLiteral("BS_*.TXT") }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    if (writable) {
        QVERIFY(!QDir(own).exists());
    } else {
        // The archive says it too, and the program's folder stays as it was installed.
        QVERIFY(readFile(logs.filePath(archives.constFirst())).contains(note.chopped(1) + "\r\n"));
        QCOMPARE(QDir(programs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "KorvelBSA" });
    }
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "TestProgramOptions.moc"

#include <csignal>
#include <optional>

#include <QtTest>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "platform/Database.h"
#include "tests/support/FreePort.h"
#include "tests/support/PlanningRows.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"
#include "tools/bsa-sim/HostSimulator.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "tests/support/UnixOnly.h"

// KorvelBSA as a service manager runs it (--headless) and as a desktop starts it (with its window): it must listen,
// answer BSA, send the status messages of returned rides to the BSA host, print its log, and leave its settings and
// a log archive behind when it is told to stop; a kill must not lose a status message it queued.
class TestHeadlessProgram final : public QObject
{
    Q_OBJECT
private slots:
    void answersARideAndEndsCleanlyOnSigterm();
    void sendsTheStatusMessageOfAReturnedRideToTheBsaHost();
    void queuedStatusMessagesSurviveAKill();
    void keepsStatusMessagesUntilTheHostAnswersThem_data();
    void keepsStatusMessagesUntilTheHostAnswersThem();
    void closesTheConnectionOfAHostThatFloodsReplies();
    void twoLinksOnOneDatabaseSendEachStatusOnce();
    void refusesToStartOnADamagedSettingsFile();
    void reportsASettingsFileItCannotWriteAtTheEnd();
    void commandLine_data();
    void commandLine();
    void withoutADisplayTheWindowGivesWayToHeadless();
    void theWindowEndsThroughTheCloseSequenceOnSigterm();
    void endsThroughTheCloseSequenceOnEachEndingSignal_data();
    void endsThroughTheCloseSequenceOnEachEndingSignal();
    void aHangupIgnoredAtStartStaysIgnored();
    void aSecondProgramOnTheSameFolderIsRefused_data();
    void aSecondProgramOnTheSameFolderIsRefused();
    void theFolderOfAKilledProgramIsTakenOver();
    void aFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram();
    void keepsEachRideWithItsJournalThroughKills();
    void saysWhichRidesItGivesUpWhenStoppedWhileTheDatabaseIsBusy();
};

namespace {
const DatabaseLogin Planning { QStringLiteral("sqlite:BSA/planning.db"), {}, {}, {} };

// Feedback on, towards a BSA host on 127.0.0.1, with the planning database in the program folder (or another).
void writeFeedbackSettings(
    const QTemporaryDir &home, quint16 hostPort, const QByteArray &server = QByteArrayLiteral("sqlite:BSA/planning.db"))
{
    QVERIFY(writeFile(home.filePath("KorvelBSA.xml"),
        databaseSettings(server,
            settingsLine("BSAHostAdres_Text", "127.0.0.1")
                + settingsLine("BSAHostPoort_Text", QByteArray::number(hostPort))
                + settingsLine("BSATerug_Checked", "TRUE") + settingsLine("BSABedrijf_Text", "42"))));
}

// Planning rows of the worked example with the columns given changed; their pla_ids, in order.
QList<int> addRows(const QTemporaryDir &home, const QList<ColumnValues> &changes)
{
    Database database([] { return Planning; }, home.path());
    QList<int> ids;
    for (const ColumnValues &change : changes) {
        QString error;
        const std::optional<int> id
            = PlanningRows::add(database, PlanningRows::with(PlanningRows::deliveredRide(), change), &error);
        if (!id)
            qFatal("cannot add a planning row: %s", qPrintable(error));
        ids << *id;
    }
    return ids;
}

QStringList retourStates(const QTemporaryDir &home, const QList<int> &ids)
{
    Database database([] { return Planning; }, home.path());
    QStringList states;
    for (int id : ids)
        states << PlanningRows::retourRbs(database, id);
    return states;
}

// Starts the program with timers short enough for a test; its standard output gathers in `output`. `intervals` may
// also shorten the wait for the BSA host's answer and the pause before a message goes again.
void startWithShortTimers(QProcess &program, const QTemporaryDir &home, QByteArray &output,
    const QString &intervals = QStringLiteral("50,50"))
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BSA_TEST_INTERVALS_MS"), intervals);
    program.setProcessEnvironment(environment);
    QObject::connect(&program, &QProcess::readyReadStandardOutput, &program,
        [&program, &output] { output += program.readAllStandardOutput().replace("\r\n", "\n"); });
    program.start(KORVELBSA_PROGRAM,
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
}

// The index of the first line at or after `from` that ends with `text`, or -1.
qsizetype lineEndingWith(const QByteArrayList &lines, const QByteArray &text, qsizetype from = 0)
{
    for (qsizetype i = from; i < lines.size(); ++i) {
        if (lines.at(i).endsWith(text))
            return i;
    }
    return -1;
}

QByteArray queueFile(const QTemporaryDir &home)
{
    return readFile(home.filePath("BSA/BACKUPS/UIT/PAKKETUIT.TXT"));
}
} // namespace

void TestHeadlessProgram::answersARideAndEndsCleanlyOnSigterm()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    const quint16 port = freeLoopbackPort();

    ProgramRun program;
    QVERIFY(program.startHeadless(home.path(), port));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());
    QVERIFY(program.output().contains(" via poort " + QByteArray::number(port)));

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(bsa.waitForConnected(5000));
    RideMessageBuilder ride(4711, QDateTime::currentDateTime());
    bsa.write(Inpakken(ride.text(), false));
    EnvelopeFramer framer;
    std::optional<QByteArray> answer;
    QDeadlineTimer deadline(10000);
    while (!answer && !deadline.hasExpired() && bsa.waitForReadyRead(200)) {
        framer.append(bsa.readAll());
        answer = framer.takeEnvelope();
    }
    QVERIFY(answer);
    tAckNackBSA record;
    QVERIFY(TekstNaarAckNack(HexNaarTekst(*answer), record, nullptr));
    QCOMPARE(record.Soort, QString("AC"));
    QCOMPARE(record.BSRitnummer, 4711);
    QVERIFY2(program.waitFor("<ACK - (BN) VERWERKT>"), program.output().constData());
    QVERIFY(program.output().contains("Verbinding met 127.0.0.1"));

    QCOMPARE(program.stop(), 0); // SIGTERM
    QVERIFY(program.output().contains("afsluiten software geaccepteerd"));

    const QByteArray settings = readFile(home.filePath("KorvelBSA.xml"));
    QVERIFY(settings.contains("<xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>\r\n"));
    QVERIFY(settings.contains("<BSAAuto_Checked>FALSE</BSAAuto_Checked>"));
#ifdef Q_OS_UNIX // on Windows the folder's access list decides who reads it
    QCOMPARE(QFile::permissions(home.filePath("KorvelBSA.xml")) & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());
#endif

    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + archives.first()));
    QVERIFY(archive.contains("<ACK - (BN) VERWERKT>\r\n"));
    QVERIFY(archive.endsWith("afsluiten software geaccepteerd\r\n"));
    QVERIFY(QFile::exists(home.filePath("BSA/planning.db")));
    for (const char *folder : { "BSA/BACKUPS/IN", "BSA/BACKUPS/UIT", "Backups", "TempDownloads" })
        QVERIFY2(QDir(home.filePath(folder)).exists(), folder);
}

void TestHeadlessProgram::sendsTheStatusMessageOfAReturnedRideToTheBsaHost()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const quint16 hostPort = freeLoopbackPort();
    writeFeedbackSettings(home, hostPort);
    const QList<int> ids = addRows(home,
        {
            {}, // a BSA ride waiting for its message
            { { "pla_extern_ritnummer", 813 }, { "pla_eigenaar", "020" } }, // not a BSA ride
            { { "pla_extern_ritnummer", 814 }, { "pla_retour_rbs", 0 } }, // not waiting
            { { "pla_extern_ritnummer", 815 }, { "pla_retour_rbs", 2 } }, // handled before
        });
    const QString text = QStringLiteral(
        "BT\tBSA\t6\t812\t201101091405\t\t17\t\tO\t189912300000\t0.0\t0.0\t189912300000\t201101091430\t0\t0.0\t0.0\t"
        "0\t0000\t201101091435\t0\t0.0\t0.0\t189912300000\tT\t1\t0.0\t0.0\t2350\t42\t");
    const QByteArray wire = "<ZORVAN>" + TekstNaarHex(text) + "<EINDE>";

    // The host is down: the message is built, queued and its row marked, and it waits.
    QProcess program;
    QByteArray output;
    startWithShortTimers(program, home, output);
    QVERIFY(program.waitForStarted(5000));
    QTRY_VERIFY2_WITH_TIMEOUT(output.contains("D:-> RETOURMELDING VERZONDEN - " + QByteArray::number(ids.at(0))),
        output.right(2000).constData(), 10000);
    QVERIFY(output.contains("\n" + text.toLatin1() + "\n")); // the message itself, without a time stamp
    QTRY_VERIFY2_WITH_TIMEOUT(
        output.contains(" - Asynchronous socket error 10061"), output.right(2000).constData(), 10000);
    QCOMPARE(queueFile(home), TekstNaarHex(text) + "\r\n");

    // The host comes up: the line goes out once, exactly as enveloped, and the host's "AC" is logged.
    HostSimulator host;
    QByteArray received;
    connect(&host, &HostSimulator::bytesReceived, this, [&received](const QByteArray &bytes) { received += bytes; });
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));
    QTRY_VERIFY2_WITH_TIMEOUT(output.contains("CI BS RITNUMMER: 812\n"), output.right(2000).constData(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(queueFile(home), QByteArray(), 5000);

    program.terminate(); // SIGTERM
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(received, wire); // nothing after "<EINDE>", nothing twice

    const QByteArrayList lines = output.split('\n');
    const qsizetype sent = lineEndingWith(lines, " - CO: " + wire);
    QVERIFY2(sent >= 0, output.right(2000).constData());
    const QByteArray ac = "<ZORVAN>" + TekstNaarHex(QStringLiteral("AC\tBSA\t6\t812\t")) + "<EINDE>";
    qsizetype at = sent;
    for (const QByteArray &reply : { " - CI: " + ac, QByteArray(" - CI STATUS: AC"), QByteArray(" - CI WAARDE: BSA"),
             QByteArray(" - CI BS RITNUMMER: 812") }) {
        const qsizetype next = lineEndingWith(lines, reply, at + 1);
        QVERIFY2(next > at, reply.constData());
        at = next;
    }
    QCOMPARE(output.count("RETOURMELDING"), 1);
    QCOMPARE(retourStates(home, ids), QStringList({ "2", "1", "0", "2" }));
}

void TestHeadlessProgram::queuedStatusMessagesSurviveAKill()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const quint16 hostPort = freeLoopbackPort();
    writeFeedbackSettings(home, hostPort);
    const QList<int> ids = addRows(home,
        { { { "pla_extern_ritnummer", 901 } }, { { "pla_extern_ritnummer", 902 } },
            { { "pla_extern_ritnummer", 903 } } });

    // Three messages queued while the host is down, then the program is killed without a word.
    {
        QProcess program;
        QByteArray output;
        startWithShortTimers(program, home, output);
        QVERIFY(program.waitForStarted(5000));
        QTRY_VERIFY2_WITH_TIMEOUT(
            output.count("D:-> RETOURMELDING VERZONDEN") == 3, output.right(2000).constData(), 10000);
        program.kill(); // SIGKILL
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    }
    QCOMPARE(queueFile(home).count("\r\n"), 3);
    QCOMPARE(retourStates(home, ids), QStringList({ "2", "2", "2" }));

    // The next run starts with them and hands each to the host once, in order.
    HostSimulator host;
    QSignalSpy messages(&host, &HostSimulator::messageReceived);
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));
    QProcess program;
    QByteArray output;
    startWithShortTimers(program, home, output);
    QVERIFY(program.waitForStarted(5000));
    QTRY_VERIFY2_WITH_TIMEOUT(output.count(" - CI BS RITNUMMER: ") == 3, output.right(2000).constData(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(queueFile(home), QByteArray(), 5000);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QVERIFY(output.contains("Pakket UIT: 3 bericht(en) hersteld uit "));
    QCOMPARE(output.count("RETOURMELDING"), 0); // nothing was built again
    QCOMPARE(messages.size(), 3);
    QStringList rides;
    for (const QList<QVariant> &message : std::as_const(messages))
        rides << message.at(0).toStringList().value(3);
    QCOMPARE(rides, QStringList({ "901", "902", "903" }));
}

void TestHeadlessProgram::keepsStatusMessagesUntilTheHostAnswersThem_data()
{
    QTest::addColumn<bool>("reads"); // the host reads the messages but never answers; or it never reads at all
    QTest::newRow("a host that never answers") << true;
    QTest::newRow("a host that never reads") << false;
}

// The host takes the connection but never answers: every message stays queued, the link says so once, and /health
// says so; once a host answers, each goes out in order.
void TestHeadlessProgram::keepsStatusMessagesUntilTheHostAnswersThem()
{
    BSA_UNIX_ONLY("the status port, a feature of the Linux service, which this test reads");
    QFETCH(bool, reads);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const quint16 hostPort = freeLoopbackPort();
    writeFeedbackSettings(home, hostPort);
    const QList<int> ids = addRows(home,
        { { { "pla_extern_ritnummer", 901 } }, { { "pla_extern_ritnummer", 902 } },
            { { "pla_extern_ritnummer", 903 } } });

    QTcpServer silent;
    HostSimulator mute;
    QSignalSpy muteMessages(&mute, &HostSimulator::messageReceived);
    QString error;
    if (reads) {
        mute.setAnswer(HostSimulator::Answer::None);
        QVERIFY2(mute.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));
    } else {
        QVERIFY(silent.listen(QHostAddress::LocalHost, hostPort)); // connections wait unaccepted, unread
    }
    QProcess program;
    QByteArray output;
    const quint16 statusPort = freeLoopbackPort();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BSA_TEST_INTERVALS_MS"), QStringLiteral("50,50,300,200"));
    program.setProcessEnvironment(environment);
    connect(&program, &QProcess::readyReadStandardOutput, &program,
        [&program, &output] { output += program.readAllStandardOutput(); });
    program.start(KORVELBSA_PROGRAM,
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()), "--status-port",
            QString::number(statusPort) });
    QVERIFY(program.waitForStarted(5000));
    QTRY_VERIFY2_WITH_TIMEOUT(output.count("D:-> RETOURMELDING VERZONDEN") == 3, output.right(2000).constData(), 10000);
    // Sent, unanswered, sent again on a new connection: still waiting, all three.
    const QByteArray noAnswer = "CO: GEEN ANTWOORD VAN BSA HOST OP BSRITNUMMER 901 ";
    QTRY_VERIFY2_WITH_TIMEOUT(output.count(" - CO: <ZORVAN>") >= 3, output.right(2000).constData(), 15000);
    QCOMPARE(output.count(noAnswer), 1);
    QVERIFY(!output.contains("BSRITNUMMER 902"));
    QCOMPARE(queueFile(home).count("\r\n"), 3);
    if (reads)
        QVERIFY(muteMessages.size() >= 2);
    QTcpSocket health;
    health.connectToHost(QHostAddress::LocalHost, statusPort);
    QVERIFY(health.waitForConnected(5000));
    health.write("GET /health HTTP/1.0\r\n\r\n");
    QByteArray answer;
    QDeadlineTimer deadline(5000);
    while (health.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        health.waitForReadyRead(100);
        answer += health.readAll();
    }
    answer += health.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.0 503") || answer.startsWith("HTTP/1.1 503"), answer.constData());
    QVERIFY2(answer.contains("the BSA host has not answered the status message of ride 901"), answer.constData());

    // A host that answers takes the place of the silent one.
    silent.close();
    mute.setAnswer(HostSimulator::Answer::Accept);
    HostSimulator host;
    QSignalSpy messages(&host, &HostSimulator::messageReceived);
    if (!reads)
        QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));
    QSignalSpy &answered = reads ? muteMessages : messages;
    const qsizetype before = answered.size();
    QTRY_VERIFY2_WITH_TIMEOUT(output.count(" - CI BS RITNUMMER: ") == 3, output.right(2000).constData(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(queueFile(home), QByteArray(), 5000);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(output.contains(" - CO: BSA HOST NEEMT PAKKET UIT WEER AAN 127.0.0.1"));
    QStringList rides;
    for (qsizetype i = before; i < answered.size(); ++i)
        rides << answered.at(i).at(0).toStringList().value(3);
    QCOMPARE(rides, QStringList({ "901", "902", "903" })); // once each, in order, from the answering host's view
    QCOMPARE(retourStates(home, ids), QStringList({ "2", "2", "2" }));
}

// A hostile host floods the client connection with replies: the link closes it, says so, keeps its log small, and
// its intake keeps answering rides.
void TestHeadlessProgram::closesTheConnectionOfAHostThatFloodsReplies()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const quint16 hostPort = freeLoopbackPort();
    writeFeedbackSettings(home, hostPort);
    addRows(home, { { { "pla_extern_ritnummer", 901 } } });
    HostSimulator host;
    host.setAnswer(HostSimulator::Answer::None);
    host.setFlood(true);
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));

    QProcess program;
    QByteArray output;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BSA_TEST_INTERVALS_MS"), QStringLiteral("50,50,30000,100"));
    program.setProcessEnvironment(environment);
    connect(&program, &QProcess::readyReadStandardOutput, &program,
        [&program, &output] { output += program.readAllStandardOutput(); });
    const quint16 serverPort = freeLoopbackPort();
    program.start(
        KORVELBSA_PROGRAM, { "--headless", "--home", home.path(), "--server-port", QString::number(serverPort) });
    QVERIFY(program.waitForStarted(5000));
    const QByteArray closing = "ANTWOORDEN VAN BSA HOST ZONDER WACHTEND BERICHT, VERBINDING GESLOTEN";
    QTRY_VERIFY2_WITH_TIMEOUT(output.count(closing) >= 2, output.right(2000).constData(), 15000);

    // A ride still gets its answer while the flood goes on.
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, serverPort);
    QVERIFY(bsa.waitForConnected(5000));
    bsa.write(Inpakken(RideMessageBuilder(7001, QDateTime::currentDateTime()).text(), false));
    EnvelopeFramer framer;
    std::optional<QByteArray> reply;
    QDeadlineTimer deadline(10000);
    while (!reply && !deadline.hasExpired()) {
        bsa.waitForReadyRead(100);
        framer.append(bsa.readAll());
        reply = framer.takeEnvelope();
    }
    QVERIFY(reply);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    // Each connection's stray replies are said once: the log does not grow with the flood.
    const qsizetype connections = output.count(closing);
    QVERIFY2(output.count("CI STATUS: AC") <= connections + 1, output.right(2000).constData());
    QVERIFY2(output.size() < 200 * 1024, QByteArray::number(output.size()).constData());
    QCOMPARE(queueFile(home).count("\r\n"), 1); // the message still waits for its answer
}

// Two links on one database, both with feedback on (the window and the service, say): every status goes out once.
void TestHeadlessProgram::twoLinksOnOneDatabaseSendEachStatusOnce()
{
    QTemporaryDir data;
    QTemporaryDir homeA;
    QTemporaryDir homeB;
    QVERIFY(data.isValid() && homeA.isValid() && homeB.isValid());
    const QByteArray server = "sqlite:" + data.filePath("planning.db").toUtf8();
    const quint16 hostPort = freeLoopbackPort();
    writeFeedbackSettings(homeA, hostPort, server);
    writeFeedbackSettings(homeB, hostPort, server);
    const DatabaseLogin login { QString::fromUtf8(server), {}, {}, {} };
    constexpr int Rides = 40;
    QList<int> ids;
    {
        Database database([login] { return login; }, data.path());
        for (int i = 0; i < Rides; ++i) {
            QString error;
            const std::optional<int> id = PlanningRows::add(database,
                PlanningRows::with(PlanningRows::deliveredRide(), { { "pla_extern_ritnummer", 5000 + i } }), &error);
            QVERIFY2(id, qPrintable(error));
            ids << *id;
        }
    }
    HostSimulator host;
    QStringList rides;
    connect(&host, &HostSimulator::messageReceived, this,
        [&rides](const QStringList &fields) { rides << fields.value(3); });
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));

    QProcess linkA;
    QProcess linkB;
    QByteArray outputA;
    QByteArray outputB;
    startWithShortTimers(linkA, homeA, outputA, QStringLiteral("10,20"));
    startWithShortTimers(linkB, homeB, outputB, QStringLiteral("10,20"));
    QVERIFY(linkA.waitForStarted(5000) && linkB.waitForStarted(5000));
    const auto allMarked = [&] {
        Database database([login] { return login; }, data.path());
        for (int id : std::as_const(ids)) {
            if (PlanningRows::retourRbs(database, id) != QLatin1String("2"))
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allMarked(), 30000);
    QTRY_VERIFY2_WITH_TIMEOUT(queueFile(homeA).isEmpty() && queueFile(homeB).isEmpty(),
        (outputA.right(1000) + outputB.right(1000)).constData(), 30000);
    linkA.terminate();
    linkB.terminate();
    QVERIFY(linkA.waitForFinished(10000) && linkB.waitForFinished(10000));

    QStringList expected;
    for (int i = 0; i < Rides; ++i)
        expected << QString::number(5000 + i);
    rides.sort();
    QCOMPARE(rides, expected); // each once
    QCOMPARE(outputA.count("D:-> RETOURMELDING VERZONDEN") + outputB.count("D:-> RETOURMELDING VERZONDEN"), Rides);
}

void TestHeadlessProgram::refusesToStartOnADamagedSettingsFile()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray damaged = "<?xml version=\"1.0\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n";
    QVERIFY(writeFile(home.filePath("KorvelBSA.xml"), damaged));

    QProcess program;
    program.start(KORVELBSA_PROGRAM,
        { "--headless", "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) });
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("KorvelBSA.xml"));
    QCOMPARE(readFile(home.filePath("KorvelBSA.xml")), damaged);
}

void TestHeadlessProgram::reportsASettingsFileItCannotWriteAtTheEnd()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString file = home.filePath("KorvelBSA.xml");
    const QByteArray stored
        = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
          "    <FormVersion>0</FormVersion>\r\n  </Hoofdscherm>\r\n</Configuration>\r\n";
    QVERIFY(writeFile(file, stored));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    ProgramRun program;
    QVERIFY(program.startHeadless(home.path(), freeLoopbackPort()));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());
    QCOMPARE(program.stop(), 0); // SIGTERM
    const QByteArray errors = program.process().readAllStandardError();
    QVERIFY2(errors.contains("KorvelBSA.xml") && errors.contains("alleen-lezen"), errors.constData());
    QCOMPARE(readFile(file), stored);
}

void TestHeadlessProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expected"); // in standard output or standard error
    QTest::newRow("--version names the program and its version")
        << QStringList { "--version" } << 0 << QByteArray("KorvelBSA " BSA_VERSION);
    QTest::newRow("--help lists the options") << QStringList { "--help" } << 0 << QByteArray("--server-port");
    QTest::newRow("a port that is not a number is refused")
        << QStringList { "--headless", "--server-port", "abc" } << 2 << QByteArray("--server-port");
    QTest::newRow("port 0 is refused") << QStringList { "--headless", "--server-port", "0" } << 2
                                       << QByteArray("--server-port");
    QTest::newRow("--help names the update address and its option")
        << QStringList { "--help" } << 0 << QByteArray("--update-url <URL>");
    QTest::newRow("an update address that is not http or https is refused")
        << QStringList { "--headless", "--update-url", "ftp://updates.korvel.example/KorvelBSA.ini" } << 2
        << QByteArray("--update-url wants an http or https address");
    QTest::newRow("an update address without a host is refused") << QStringList { "--headless", "--update-url",
        "KorvelBSA.ini" } << 2 << QByteArray("--update-url wants an http or https address");
    QTest::newRow("--help describes --listen") << QStringList { "--help" } << 0 << QByteArray("--listen <ADDRESS>");
    QTest::newRow("--help names the exit status of a program folder in use")
        << QStringList { "--help" } << 0 << QByteArray("4: another KorvelBSA");
    QTest::newRow("--help names the exit status of a port that cannot be opened")
        << QStringList { "--help" } << 0 << QByteArray("3: a port cannot be opened");
    QTest::newRow("an unknown option is a wrong command line, not a damaged settings file")
        << QStringList { "--headless", "--no-such-option" } << 2 << QByteArray("no-such-option");
    QTest::newRow("--help describes --status-port") << QStringList { "--help" } << 0 << QByteArray("--status-port <N>");
    QTest::newRow("a name is not an address") << QStringList { "--headless", "--listen", "localhost" } << 2
                                              << QByteArray("--listen: 'localhost' is not an IPv4 address");
    QTest::newRow("a short form of an address is refused")
        << QStringList { "--headless", "--listen", "127.1" } << 2 << QByteArray("'127.1' is not an IPv4 address");
    QTest::newRow("a leading zero is refused, not read as octal")
        << QStringList { "--headless", "--listen", "010.0.0.1" } << 2 << QByteArray("'010.0.0.1' is not an IPv4");
    QTest::newRow("a number above 255 is refused")
        << QStringList { "--headless", "--listen", "127.0.0.256" } << 2 << QByteArray("is not an IPv4 address");
    QTest::newRow("an IPv6 address is refused")
        << QStringList { "--headless", "--listen", "::1" } << 2 << QByteArray("'::1' is not an IPv4 address");
    QTest::newRow("an address of another machine is refused") << QStringList { "--headless", "--listen",
        "198.51.100.77" } << 2 << QByteArray("--listen: 198.51.100.77 is not an address of this machine");
    QTest::newRow("status port 0 is refused") << QStringList { "--headless", "--status-port", "0" } << 2
                                              << QByteArray("--status-port wants a port number from 1 to 65535");
    QTest::newRow("a status port that is not a number is refused") << QStringList { "--headless", "--status-port",
        "metrics" } << 2 << QByteArray("--status-port wants a port number from 1 to 65535, not 'metrics'");
}

void TestHeadlessProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expected);
    if (arguments.contains(QStringLiteral("--status-port")))
        BSA_UNIX_ONLY("the status port, a feature of the Linux service");
    QTemporaryDir home;
    QProcess program;
    program.start(KORVELBSA_PROGRAM, arguments << "--home" << home.path());
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), exitCode);
    const QByteArray output = program.readAllStandardOutput() + program.readAllStandardError();
    QVERIFY2(output.contains(expected), output.constData());
    // Nothing is stored of a refused run, nor of these options in a run.
    QVERIFY(!QFile::exists(QDir(home.path()).filePath(QStringLiteral("KorvelBSA.xml"))));
}

void TestHeadlessProgram::withoutADisplayTheWindowGivesWayToHeadless()
{
    BSA_UNIX_ONLY("a desktop that may be missing (DISPLAY)");
    QTemporaryDir home;
    ProgramRun program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
        environment.remove(QString::fromLatin1(name));
    program.setEnvironment(environment);
    QVERIFY(program.start(QStringLiteral(KORVELBSA_PROGRAM),
        { "--home", home.path(), "--server-port", QString::number(freeLoopbackPort()) }));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());
    QCOMPARE(program.stop(), 0);
    QVERIFY(program.process().readAllStandardError().contains("no display"));
}

void TestHeadlessProgram::theWindowEndsThroughTheCloseSequenceOnSigterm()
{
    // With a display (here the offscreen one) the program opens its window and prints nothing; the server starts
    // at the first tick because the settings say so.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeFile(home.filePath("KorvelBSA.xml"),
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <FormVersion>0</FormVersion>\r\n"
        "    <BSAAuto_Checked>TRUE</BSAAuto_Checked>\r\n"
        "  </Hoofdscherm>\r\n</Configuration>\r\n"));
    const quint16 port = freeLoopbackPort();
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(KORVELBSA_PROGRAM, { "--home", home.path(), "--server-port", QString::number(port) });
    QVERIFY(program.waitForStarted(5000));
    QTcpSocket bsa;
    QDeadlineTimer deadline(10000);
    do {
        bsa.abort();
        bsa.connectToHost(QHostAddress::LocalHost, port);
    } while (!bsa.waitForConnected(500) && !deadline.hasExpired() && program.state() == QProcess::Running);
    QCOMPARE(bsa.state(), QAbstractSocket::ConnectedState);
    bsa.disconnectFromHost();

    program.terminate(); // SIGTERM
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + archives.first()));
    QVERIFY(archive.contains("BSA Callcenter Server werd gestart"));
    QVERIFY(archive.endsWith("afsluiten software geaccepteerd\r\n"));
    QVERIFY(readFile(home.filePath("KorvelBSA.xml")).contains("<BSAAuto_Checked>TRUE</BSAAuto_Checked>"));
}

namespace {
// Settings with the automatic start, so that the window listens too; the port answering says the program is up.
void writeAutomaticStartSettings(const QTemporaryDir &home)
{
    QVERIFY(writeFile(home.filePath("KorvelBSA.xml"),
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <FormVersion>0</FormVersion>\r\n"
        "    <BSAAuto_Checked>TRUE</BSAAuto_Checked>\r\n"
        "  </Hoofdscherm>\r\n</Configuration>\r\n"));
}

// Starts the program, headless or with its window on the offscreen platform.
void startProgram(QProcess &program, const QTemporaryDir &home, quint16 port, bool window)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (window)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    QStringList arguments { "--home", home.path(), "--server-port", QString::number(port) };
    if (!window)
        arguments.prepend("--headless");
    program.start(KORVELBSA_PROGRAM, arguments);
}

// Bounded: whether the port took a connection before the program ended or the time ran out.
bool waitUntilListening(QProcess &program, quint16 port)
{
    QTcpSocket bsa;
    QDeadlineTimer deadline(10000);
    do {
        bsa.abort();
        bsa.connectToHost(QHostAddress::LocalHost, port);
    } while (!bsa.waitForConnected(500) && !deadline.hasExpired() && program.state() == QProcess::Running);
    const bool connected = bsa.state() == QAbstractSocket::ConnectedState;
    bsa.disconnectFromHost();
    return connected;
}

// Bounded: whether the program's standard error holds the text before it ends or the time runs out.
bool waitForErrorOutput(QProcess &program, QByteArray &errors, const QByteArray &text)
{
    program.setReadChannel(QProcess::StandardError);
    QDeadlineTimer deadline(10000);
    while (!errors.contains(text) && !deadline.hasExpired() && program.state() == QProcess::Running) {
        program.waitForReadyRead(200);
        errors += program.readAllStandardError();
    }
    errors += program.readAllStandardError();
    return errors.contains(text);
}
} // namespace

void TestHeadlessProgram::endsThroughTheCloseSequenceOnEachEndingSignal_data()
{
    QTest::addColumn<bool>("window");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("headless, SIGINT") << false << int(SIGINT);
    // The terminal or the session the program was started from ended.
    QTest::newRow("headless, SIGHUP") << false << int(SIGHUP);
    QTest::newRow("with its window, SIGHUP") << true << int(SIGHUP);
    QTest::newRow("with its window, SIGINT") << true << int(SIGINT);
}

void TestHeadlessProgram::endsThroughTheCloseSequenceOnEachEndingSignal()
{
    BSA_UNIX_ONLY("Unix signals");
    QFETCH(bool, window);
    QFETCH(int, signalNumber);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeAutomaticStartSettings(home);
    const quint16 port = freeLoopbackPort();
    QProcess program;
    startProgram(program, home, port, window);
    QVERIFY(program.waitForStarted(5000));
    QVERIFY(waitUntilListening(program, port));

    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + archives.first()));
    QVERIFY(archive.contains("BSA Callcenter Server werd gestart"));
    QVERIFY(archive.endsWith("afsluiten software geaccepteerd\r\n"));
    QVERIFY(readFile(home.filePath("KorvelBSA.xml")).contains("<SoortVervoer_Text>P</SoortVervoer_Text>"));
}

void TestHeadlessProgram::aHangupIgnoredAtStartStaysIgnored()
{
    BSA_UNIX_ONLY("Unix signals");
    // Started through nohup, the program is to outlive its terminal.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeAutomaticStartSettings(home);
    const quint16 port = freeLoopbackPort();
    QProcess program;
#ifdef Q_OS_UNIX
    program.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
#endif
    startProgram(program, home, port, false);
    QVERIFY(program.waitForStarted(5000));
    QVERIFY(waitUntilListening(program, port));
    QCOMPARE(::kill(pid_t(program.processId()), SIGHUP), 0);
    QVERIFY(!program.waitForFinished(1000));
    QVERIFY(waitUntilListening(program, port));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestHeadlessProgram::aSecondProgramOnTheSameFolderIsRefused_data()
{
    QTest::addColumn<bool>("window"); // of the second program; the first runs headless
    QTest::newRow("headless") << false;
    QTest::newRow("with its window") << true;
}

void TestHeadlessProgram::aSecondProgramOnTheSameFolderIsRefused()
{
    QFETCH(bool, window);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeAutomaticStartSettings(home);
    const QByteArray settings = readFile(home.filePath("KorvelBSA.xml"));
    const quint16 firstPort = freeLoopbackPort();
    QProcess first;
    startProgram(first, home, firstPort, false);
    QVERIFY(first.waitForStarted(5000));
    QVERIFY(waitUntilListening(first, firstPort));

    const quint16 secondPort = freeLoopbackPort();
    QProcess second;
    startProgram(second, home, secondPort, window);
    QVERIFY(second.waitForStarted(5000));
    const QByteArray reason = "KorvelBSA draait al in deze map: " + QDir::toNativeSeparators(home.path()).toLocal8Bit();
    QByteArray errors;
    QVERIFY2(waitForErrorOutput(second, errors, reason), errors.constData());
    if (window) {
        // The box waits for the operator; nothing of the link was started behind it.
        QCOMPARE(second.state(), QProcess::Running);
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, secondPort);
        QVERIFY(!probe.waitForConnected(1000));
        second.kill();
        QVERIFY(second.waitForFinished(10000));
    } else {
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 4);
        QCOMPARE(second.readAllStandardOutput(), QByteArray()); // no log: the link never started
    }
    // The second left the first's folder as it was.
    QCOMPARE(readFile(home.filePath("KorvelBSA.xml")), settings);
    QCOMPARE(QDir(home.filePath("BSA/LOGS")).entryList(QDir::Files), QStringList());
    QVERIFY(QFile::exists(home.filePath("KorvelBSA.lock")));

    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(!QFile::exists(home.filePath("KorvelBSA.lock"))); // the folder is free again
}

void TestHeadlessProgram::theFolderOfAKilledProgramIsTakenOver()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    writeAutomaticStartSettings(home);
    const quint16 port = freeLoopbackPort();
    QProcess killed;
    startProgram(killed, home, port, false);
    QVERIFY(killed.waitForStarted(5000));
    QVERIFY(waitUntilListening(killed, port));
    killed.kill(); // SIGKILL: the lock file stays behind
    QVERIFY(killed.waitForFinished(10000));
    QVERIFY(QFile::exists(home.filePath("KorvelBSA.lock")));

    QProcess next;
    startProgram(next, home, port, false);
    QVERIFY(next.waitForStarted(5000));
    QVERIFY2(waitUntilListening(next, port), next.readAllStandardError().constData());
    next.terminate();
    QVERIFY(next.waitForFinished(10000));
    QCOMPARE(next.exitCode(), 0);
}

void TestHeadlessProgram::aFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram()
{
    BSA_UNIX_ONLY("a limit on the size of files");
    // Files of the program cannot grow past a few hundred bytes, as on a full disk: the log archive and the
    // settings file written at the end fail and say so, and the program still ends through its close sequence.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const quint16 port = freeLoopbackPort();
    ProgramRun program;
    program.limitFileSize(512);
    QVERIFY(program.startHeadless(home.path(), port));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"),
        (program.output() + program.process().readAllStandardError()).constData());

    // A ride fills the log past the limit (without a database it is answered "NC").
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(bsa.waitForConnected(5000));
    bsa.write(Inpakken(RideMessageBuilder(4711, QDateTime::currentDateTime()).text(), false));
    EnvelopeFramer framer;
    QDeadlineTimer deadline(10000);
    while (!framer.takeEnvelope() && !deadline.hasExpired() && bsa.waitForReadyRead(200))
        framer.append(bsa.readAll());
    bsa.disconnectFromHost();

    QCOMPARE(program.stop(), 0);
    const QByteArray errors = program.process().readAllStandardError();
    QVERIFY2(program.output().contains(" - Logboek kan niet bewaard worden in "), program.tail().constData());
    QVERIFY2(errors.contains("the operator log could not be archived"), errors.constData());
    QVERIFY2(errors.contains("KorvelBSA.xml kan niet geschreven worden"), errors.constData());
    // Nothing half-written is left behind.
    QCOMPARE(QDir(home.filePath("BSA/LOGS")).entryList(QDir::Files), QStringList());
    QVERIFY(!QFile::exists(home.filePath("KorvelBSA.xml")));
}

namespace {
// One BSA connection of the kill test: sends its next ride as soon as the last one is answered.
struct Lane
{
    std::unique_ptr<QTcpSocket> socket;
    EnvelopeFramer framer;
    int ride = 0;
};
} // namespace

void TestHeadlessProgram::keepsEachRideWithItsJournalThroughKills()
{
    // The program is killed at a random moment under load, several times over, and started again: a stored ride
    // always has its journal rows, a journal row always has its ride, and every ride BSA heard "AC" for is stored.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("random seed %u", seed);
    QSet<int> acknowledged;
    int nextRide = 1;
    constexpr int Runs = 12;
    constexpr int Lanes = 8;

    for (int run = 0; run < Runs; ++run) {
        const quint16 port = freeLoopbackPort();
        ProgramRun program;
        QVERIFY(program.startHeadless(home.path(), port));
        QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());

        std::vector<Lane> lanes(Lanes);
        int answers = 0;
        const int killAfter = int(random.bounded(10, 150));
        const auto send = [&](Lane &lane) {
            // Now and then a change of the ride just answered, otherwise a new ride.
            if (lane.ride == 0 || random.bounded(4) != 0)
                lane.ride = nextRide++;
            lane.socket->write(Inpakken(RideMessageBuilder(lane.ride, QDateTime::currentDateTime()).text(), false));
        };
        for (Lane &lane : lanes) {
            lane.socket = std::make_unique<QTcpSocket>();
            lane.socket->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(lane.socket->waitForConnected(5000));
            Lane *self = &lane;
            connect(lane.socket.get(), &QIODevice::readyRead, this, [&, self] {
                self->framer.append(self->socket->readAll());
                while (std::optional<QByteArray> payload = self->framer.takeEnvelope()) {
                    tAckNackBSA record;
                    if (TekstNaarAckNack(HexNaarTekst(*payload), record, nullptr) && record.Soort == "AC")
                        acknowledged.insert(record.BSRitnummer);
                    ++answers;
                    if (answers < killAfter)
                        send(*self);
                }
            });
            send(lane);
        }
        QTRY_VERIFY_WITH_TIMEOUT(answers >= killAfter, 30000);
        program.process().kill(); // SIGKILL: rides in flight are cut off somewhere between arriving and being answered
        QVERIFY(program.process().waitForFinished(5000));
        for (Lane &lane : lanes)
            disconnect(lane.socket.get(), nullptr, this, nullptr);
    }
    QVERIFY(acknowledged.size() > Runs);

    const QString connection = QStringLiteral("after-kills");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(home.filePath("BSA/planning.db"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        const auto count = [&](const QString &sql) {
            if (!query.exec(sql) || !query.next()) {
                qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
                return -1;
            }
            return query.value(0).toInt();
        };
        QCOMPARE(count("SELECT count(*) FROM planning p WHERE NOT EXISTS "
                       "(SELECT 1 FROM TRANSACTIES t WHERE t.tra_rit = p.pla_id AND t.tra_code = 91)"),
            0);
        QCOMPARE(count("SELECT count(*) FROM TRANSACTIES t WHERE NOT EXISTS "
                       "(SELECT 1 FROM planning p WHERE p.pla_id = t.tra_rit)"),
            0);
        // A change journals two rows in one go: never one of them alone.
        QCOMPARE(count("SELECT count(*) FROM (SELECT tra_rit FROM TRANSACTIES WHERE tra_code = 92 GROUP BY tra_rit "
                       "HAVING count(*) % 2 <> 0)"),
            0);
        QCOMPARE(count("SELECT count(*) FROM (SELECT pla_extern_ritnummer FROM planning GROUP BY pla_extern_ritnummer "
                       "HAVING count(*) > 1)"),
            0);
        QSet<int> stored;
        QVERIFY(query.exec("SELECT pla_extern_ritnummer FROM planning"));
        while (query.next())
            stored.insert(query.value(0).toInt());
        for (int ride : acknowledged)
            QVERIFY2(
                stored.contains(ride), qPrintable(QStringLiteral("ride %1 was acknowledged, not stored").arg(ride)));
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

void TestHeadlessProgram::saysWhichRidesItGivesUpWhenStoppedWhileTheDatabaseIsBusy()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    const quint16 port = freeLoopbackPort();
    ProgramRun program;
    QVERIFY(program.startHeadless(home.path(), port));
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.output().constData());

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(bsa.waitForConnected(5000));
    bsa.write(Inpakken(RideMessageBuilder(4710, QDateTime::currentDateTime()).text(), false));
    QVERIFY(bsa.waitForBytesWritten(5000));
    QVERIFY2(program.waitFor("<ACK - (BN) VERWERKT>"), program.output().constData());
    QVERIFY(bsa.waitForReadyRead(5000));
    bsa.readAll();

    // Another program holds the write lock on the database file.
    const QString connection = QStringLiteral("locker");
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        locker.setDatabaseName(home.filePath("BSA/planning.db"));
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY2(lock.exec("BEGIN IMMEDIATE"), qPrintable(lock.lastError().text()));

        bsa.write(Inpakken(RideMessageBuilder(4711, QDateTime::currentDateTime()).text(), false));
        QVERIFY(bsa.waitForBytesWritten(5000));
        QVERIFY2(program.waitFor("DATABASE BEZET, 1 BERICHT(EN) WACHTEN"), program.output().constData());

        // Stopped while the ride waits: it is not stored and not answered, so BSA sends it again, and the log says so.
        QCOMPARE(program.stop(), 0);
        QVERIFY2(program.output().contains("SI: 1 BERICHT(EN) NIET VERWERKT, KOPPELING STOPT"),
            program.output().constData());
        QVERIFY(!program.output().contains("PAKKET RITNUMMER = 4711"));
        QCOMPARE(bsa.readAll(), QByteArray());
        QVERIFY(lock.exec("COMMIT"));
        QVERIFY(lock.exec("SELECT count(*) FROM planning"));
        QVERIFY(lock.next());
        QCOMPARE(lock.value(0).toInt(), 1); // the first ride only
        locker.close();
    }
    QSqlDatabase::removeDatabase(connection);
    const QStringList archives = QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files);
    QCOMPARE(archives.size(), 1);
    QVERIFY(readFile(home.filePath("BSA/LOGS/" + archives.first())).contains("KOPPELING STOPT"));
}

QTEST_GUILESS_MAIN(TestHeadlessProgram)
#include "TestHeadlessProgram.moc"

#include <memory>
#include <optional>
#include <vector>

#include <QtTest>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "tests/support/ForeignPeer.h"
#include "tests/support/FreePort.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramSettings.h"
#include "tests/support/TestFiles.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "tests/support/UnixOnly.h"

// KorvelBSA --headless where the system or its peers make life hard: few file descriptors, a port another program
// holds, no database set up, control characters inside a ride, a flood of large messages, peers from addresses
// that may not connect, connections that never send.
class TestHeadlessUnderStrain final : public QObject
{
    Q_OBJECT
private slots:
    void waitsForFreeDescriptorsUnderALowLimit();
    void endsWithTheReasonWhenThePortIsTaken_data();
    void endsWithTheReasonWhenThePortIsTaken();
    void saysWhenNoDatabaseIsSetUp_data();
    void saysWhenNoDatabaseIsSetUp();
    void keepsEveryLogLineOnOneLine();
    void archivesAFloodOfLargeMessagesInBoundedPiecesAndGoesOnAnswering();
    void letsInOnlyTheAllowedAddresses_data();
    void letsInOnlyTheAllowedAddresses();
    void idleConnectionsCannotLockBsaOut();
};

namespace {
// The embedded database and, when not null, the list of addresses that may connect.
QByteArray sqliteSettingsAllowing(const QByteArray &allowed)
{
    return sqliteSettings(allowed.isNull() ? QByteArray() : settingsLine("BSAToegestaneAdressen_Text", allowed));
}

QStringList archives(const QTemporaryDir &home)
{
    return QDir(home.filePath("BSA/LOGS")).entryList({ "BS_*.TXT" }, QDir::Files, QDir::Name);
}

// The program without its window on the program folder `home`.
class Program : public ProgramRun
{
public:
    explicit Program(const QTemporaryDir &home, quint16 port = freeLoopbackPort())
        : m_home(home.path())
        , m_port(port)
    { }
    bool start(const QStringList &more = {}) { return startHeadless(m_home, m_port, more); }
    quint16 port() const { return m_port; }

private:
    QString m_home;
    quint16 m_port;
};

// The answers that came on a connection: "AC 4711", "NC 0".
class AnswerReader
{
public:
    void take(QTcpSocket &socket)
    {
        m_framer.append(socket.readAll());
        while (std::optional<QByteArray> payload = m_framer.takeEnvelope()) {
            tAckNackBSA record;
            TekstNaarAckNack(HexNaarTekst(*payload), record, nullptr);
            m_answers << record.Soort + QLatin1Char(' ') + QString::number(record.BSRitnummer);
        }
    }
    const QStringList &answers() const { return m_answers; }

private:
    EnvelopeFramer m_framer;
    QStringList m_answers;
};

std::unique_ptr<QTcpSocket> connectTo(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket->waitForConnected(5000) ? std::move(socket) : nullptr;
}

// Waits, bounded, until the connection has given `count` answers in all; false when they did not come in time.
bool waitForAnswers(QTcpSocket &socket, AnswerReader &reader, qsizetype count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (reader.answers().size() < count && !deadline.hasExpired()
        && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        reader.take(socket);
    }
    return reader.answers().size() >= count;
}

// Sends one ride and waits, bounded, for its answer.
QString exchangeRide(QTcpSocket &socket, AnswerReader &reader, const RideMessageBuilder &ride)
{
    const qsizetype before = reader.answers().size();
    socket.write(Inpakken(ride.text(), false));
    QDeadlineTimer deadline(15000);
    while (reader.answers().size() == before && !deadline.hasExpired() && socket.waitForReadyRead(100))
        reader.take(socket);
    return reader.answers().value(before);
}
} // namespace

void TestHeadlessUnderStrain::waitsForFreeDescriptorsUnderALowLimit()
{
    BSA_UNIX_ONLY("a limit on open descriptors");
    // 64 open files at most: the program raises its own limit of 24 to that, takes as many connections as leave room
    // for its database and log, and lets the rest wait in the system's queue, without a busy loop and saying so
    // once; a connection that closes lets the next one in.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    Program program(home);
    program.limitDescriptors(24, 64);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());
    QVERIFY2(program.output().contains(" - Maximaal aantal open bestanden: 64\n"), program.tail().constData());

    // Each peer sends an envelope at once, as BSA does (one that is no ride, answered NC): a connection that never
    // sends may be closed to make room for one that waits, which idleConnectionsCannotLockBsaOut tries.
    constexpr int Peers = 80;
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < Peers; ++i) {
        peers.push_back(connectTo(program.port())); // the system completes the connect, accepted or not
        QVERIFY(peers.back());
        peers.back()->write("<ZORVAN>41<EINDE>");
    }
    QVERIFY2(
        program.waitFor("VERBINDINGEN OPEN, HET MAXIMUM: NIEUWE VERBINDINGEN WACHTEN"), program.tail().constData());
    QTest::qWait(500); // connects that were still under way are in the system's queue by now
    const qsizetype accepted = program.output().count("Verbinding met 127.0.0.1");
    QVERIFY2(accepted > 20 && accepted < Peers, QByteArray::number(accepted).constData());

    // The database still gets the descriptors it needs: a ride on the first connection is stored.
    AnswerReader reader;
    QVERIFY(waitForAnswers(*peers.front(), reader, 1, 10000));
    QCOMPARE(reader.answers(), QStringList { "NC 0" });
    QCOMPARE(exchangeRide(*peers.front(), reader, RideMessageBuilder(4711, QDateTime::currentDateTime())),
        QStringLiteral("AC 4711"));

    // Five connections close: five waiting ones are taken in their place.
    for (int i = 0; i < 5; ++i)
        peers[size_t(i)]->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(program.output().count("Verbinding met 127.0.0.1"), accepted + 5, 10000);
    QCOMPARE(program.output().count("HET MAXIMUM"), 1);

    // All close: every one still waiting is taken (and closes), and the operator hears the queue is empty.
    peers.clear();
    QVERIFY2(program.waitFor("SI: WACHTENDE VERBINDINGEN ZIJN AANGENOMEN"), program.tail().constData());
    QTRY_COMPARE_WITH_TIMEOUT(program.output().count("Verbinding met 127.0.0.1"), Peers, 10000);
    QCOMPARE(program.output().count("HET MAXIMUM"), 1);
    QVERIFY(!program.output().contains("on API 'accept'"));
    QVERIFY2(program.stop() == 0, program.tail().constData());
}

void TestHeadlessUnderStrain::endsWithTheReasonWhenThePortIsTaken_data()
{
    QTest::addColumn<QString>("option"); // the option of the port another program holds
    QTest::addColumn<QByteArrayList>("reason"); // what standard error says, "%1" the port
    // What the log archive says, "%1" the port; none when the program ends before its log starts.
    QTest::addColumn<QByteArray>("archived");
    QTest::newRow("BSA's port") << QStringLiteral("--server-port")
                                << QByteArrayList { "KorvelBSA: the BSA server cannot listen: Windows socket error: ",
                                       " (10048), on API 'bind'" }
                                << QByteArray("(10048), on API 'bind'");
    QTest::newRow("the status port") << QStringLiteral("--status-port")
                                     << QByteArrayList { "the status port %1 on 127.0.0.1 cannot be opened" }
                                     << QByteArray();
}

void TestHeadlessUnderStrain::endsWithTheReasonWhenThePortIsTaken()
{
    QFETCH(QString, option);
    QFETCH(QByteArrayList, reason);
    QFETCH(QByteArray, archived);
    if (option == u"--status-port")
        BSA_UNIX_ONLY("the status port, a feature of the Linux service");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    const QByteArray taken = QByteArray::number(other.serverPort());
    ProgramRun program;
    const quint16 serverPort = option == QLatin1String("--server-port") ? other.serverPort() : freeLoopbackPort();
    QStringList more;
    if (option != QLatin1String("--server-port"))
        more << option << QString::number(other.serverPort());
    QVERIFY(program.startHeadless(home.path(), serverPort, more));
    // Not 1 or 2, which a service manager does not try again: the port may be free by the next start.
    QCOMPARE(program.waitForEnd(15000), 3);
    const QByteArray errors = program.process().readAllStandardError();
    for (const QByteArray &part : reason)
        QVERIFY2(errors.contains(QByteArray(part).replace("%1", taken)), errors.constData());
    // Ended through the close sequence: the archive holds the reason too, and the settings stay.
    if (!archived.isEmpty()) {
        const QStringList written = archives(home);
        QCOMPARE(written.size(), 1);
        QVERIFY(readFile(home.filePath("BSA/LOGS/" + written.first())).contains(archived.replace("%1", taken)));
    }
    QVERIFY(readFile(home.filePath("KorvelBSA.xml")).contains("sqlite:BSA/planning.db"));
}

void TestHeadlessUnderStrain::saysWhenNoDatabaseIsSetUp_data()
{
    QTest::addColumn<QByteArray>("settings"); // the settings file; none when empty
    QTest::addColumn<bool>("warned");
    QTest::newRow("a new program folder without a settings file") << QByteArray() << true;
    QTest::newRow("an empty SQL server") << QByteArray(
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        "    <xLoginServer_Text></xLoginServer_Text>\r\n  </Hoofdscherm>\r\n</Configuration>\r\n")
                                         << true;
    QTest::newRow("an SQL server of spaces only")
        << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
                      "    <xLoginServer_Text>   </xLoginServer_Text>\r\n  </Hoofdscherm>\r\n</Configuration>\r\n")
        << true;
    QTest::newRow("the embedded database") << sqliteSettings() << false;
}

void TestHeadlessUnderStrain::saysWhenNoDatabaseIsSetUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, warned);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    if (!settings.isEmpty())
        QVERIFY(writeFile(home.filePath("KorvelBSA.xml"), settings));
    Program program(home);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());
    QVERIFY2(program.stop() == 0, program.tail().constData());
    const QByteArray line = "GEEN PLANNINGDATABASE INGESTELD: ELKE RIT KRIJGT NC. Stel xLoginServer_Text in "
                            "KorvelBSA.xml in, bijvoorbeeld op sqlite:BSA/planning.db";
    QCOMPARE(program.output().contains(line), warned);

    QProcess help;
    help.start(KORVELBSA_PROGRAM, { "--help" });
    QVERIFY(help.waitForFinished(10000));
    const QByteArray text = help.readAllStandardOutput().simplified();
    QVERIFY2(text.contains("xLoginServer_Text in KorvelBSA.xml") && text.contains("sqlite:BSA/planning.db")
            && text.contains("every ride is refused with NC"),
        text.constData());
}

void TestHeadlessUnderStrain::keepsEveryLogLineOnOneLine()
{
    // A name holding CR LF and a forged log line, and a terminal's escape sequence: both stay inside the line of the
    // message on standard output and in the archive.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    Program program(home);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());
    auto bsa = connectTo(program.port());
    QVERIFY(bsa);
    RideMessageBuilder ride(4712, QDateTime::currentDateTime());
    QString error;
    const QString forged = QStringLiteral("01-01-2000 00:00:00 - <ACK - (BN) VERWERKT>");
    QVERIFY2(ride.setField(QStringLiteral("NaamReiziger"), QStringLiteral("J.@@") + forged, &error), qPrintable(error));
    QVERIFY2(ride.setField(QStringLiteral("Projectnummer"), QStringLiteral("\x1b[2J\x1b]0;x\x07"), &error),
        qPrintable(error));
    // A bare CR LF, not BSA's ESC "L" "F".
    bsa->write(Inpakken(ride.text().replace(QStringLiteral("@@"), QStringLiteral("\r\n")), false));
    AnswerReader reader;
    QTRY_COMPARE_WITH_TIMEOUT((reader.take(*bsa), reader.answers()), QStringList { "AC 4712" }, 10000);
    QVERIFY2(program.waitFor("<ACK - (BN) VERWERKT>"), program.tail().constData());
    QVERIFY2(program.stop() == 0, program.tail().constData());

    const QStringList written = archives(home);
    QCOMPARE(written.size(), 1);
    const QByteArray archive = readFile(home.filePath("BSA/LOGS/" + written.first()));
    for (const QByteArray &text : { program.output(), archive }) {
        QVERIFY(!text.contains('\x1b') && !text.contains('\x07'));
        QVERIFY(
            !text.contains('\r' + QByteArray("\n") + forged.toLatin1()) && !text.contains('\n' + forged.toLatin1()));
        QVERIFY2(text.contains("J.#0D##0A#" + forged.toLatin1()), text.right(3000).constData());
        QVERIFY(text.contains("#1B#[2J#1B#]0;x#07#"));
    }
    QCOMPARE(archive.count('\n'), archive.count("\r\n")); // no line break but the archive's own
}

void TestHeadlessUnderStrain::archivesAFloodOfLargeMessagesInBoundedPiecesAndGoesOnAnswering()
{
    // One connection sends a stream of envelopes of 40,000 digits each (answered NC), enough to pass the log's bound
    // once and a half; meanwhile rides on another connection are answered. The log is archived by its size, in one
    // piece not much larger than the bound, and no log line is longer than its bound.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    Program program(home);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());
    auto flood = connectTo(program.port());
    auto rides = connectTo(program.port());
    QVERIFY(flood && rides);

    constexpr qsizetype MaxLineLength = 16 * 1024; // as the operator log cuts
    constexpr qsizetype MaxCharacters = 8 * 1024 * 1024;
    constexpr int Envelopes = int(MaxCharacters * 3 / 2 / MaxLineLength);
    const QByteArray large = "<ZORVAN>" + QByteArray(40000, '4') + "<EINDE>";
    int written = 0;
    AnswerReader floodAnswers;
    QObject::connect(flood.get(), &QIODevice::bytesWritten, flood.get(), [&] {
        while (written < Envelopes && flood->bytesToWrite() < 1024 * 1024) {
            flood->write(large);
            ++written;
        }
    });
    QObject::connect(flood.get(), &QIODevice::readyRead, flood.get(), [&] { floodAnswers.take(*flood); });
    flood->write(large);
    ++written;

    AnswerReader rideAnswers;
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(exchangeRide(*rides, rideAnswers, RideMessageBuilder(5000 + i, QDateTime::currentDateTime())),
            QStringLiteral("AC %1").arg(5000 + i));
    }
    QTRY_COMPARE_WITH_TIMEOUT(floodAnswers.answers().size(), Envelopes, 60000);
    QCOMPARE(floodAnswers.answers().count(QStringLiteral("NC 0")), Envelopes);
    QTRY_COMPARE_WITH_TIMEOUT(archives(home).size(), 1, 10000);
    const QString bySize = archives(home).first();
    QTest::qWait(1100); // the archive at the end gets a name of its own
    QVERIFY2(program.stop() == 0, program.tail().constData());

    const qint64 size = QFileInfo(home.filePath("BSA/LOGS/" + bySize)).size();
    QVERIFY2(size > MaxCharacters && size < MaxCharacters + 2 * 1024 * 1024, QByteArray::number(size).constData());
    QCOMPARE(archives(home).size(), 2);
    for (const QByteArray &line : program.output().split('\n'))
        QVERIFY2(line.size() <= MaxLineLength + 64, QByteArray::number(line.size()).constData());
    QVERIFY(program.output().contains(" ... [AFGEKORT, REGEL VAN 40041 TEKENS]"));
}

void TestHeadlessUnderStrain::letsInOnlyTheAllowedAddresses_data()
{
    QTest::addColumn<QByteArray>("allowed"); // BSAToegestaneAdressen_Text; null: no such element
    QTest::addColumn<QHostAddress>("from");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<QByteArray>("startLine"); // logged once at the start
    const QHostAddress local(QHostAddress::LocalHost);
    QTest::newRow("without a list a peer from another machine is let in, and the start warns")
        << QByteArray() << ForeignPeerAddress << true
        << QByteArray("SI: WAARSCHUWING: BSAToegestaneAdressen IS LEEG, ELK ADRES MAG VERBINDEN");
    QTest::newRow("a peer from an address not listed is closed at once")
        << QByteArray("127.0.0.1") << ForeignPeerAddress << false << QByteArray();
    QTest::newRow("a listed network lets its members in")
        << QByteArray("192.0.2.10, 127.0.0.0/30") << ForeignPeerAddress << true << QByteArray();
    QTest::newRow("a list that cannot be read keeps out even a listed address")
        << QByteArray("127.0.0.1, 127.0.0.1/99") << local << false
        << QByteArray("SI: BSAToegestaneAdressen ONLEESBAAR: '127.0.0.1/99' IS GEEN IPV4-ADRES OF -NETWERK, "
                      "ALLE VERBINDINGEN WORDEN GEWEIGERD");
}

void TestHeadlessUnderStrain::letsInOnlyTheAllowedAddresses()
{
    QFETCH(QByteArray, allowed);
    QFETCH(QHostAddress, from);
    QFETCH(bool, admitted);
    QFETCH(QByteArray, startLine);
    if (!admitted)
        BSA_SEES_A_REFUSED_CLOSE();
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeFile(home.filePath("KorvelBSA.xml"), sqliteSettingsAllowing(allowed)));
    Program program(home);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());
    if (!startLine.isEmpty())
        QVERIFY2(program.waitFor(startLine), program.tail().constData());
    QCOMPARE(program.output().count("BSAToegestaneAdressen"), startLine.isEmpty() ? 0 : 1);

    const QByteArray address = from.toString().toLatin1();
    if (admitted) {
        auto bsa = connectFrom(from, program.port());
        QVERIFY(bsa);
        AnswerReader reader;
        QCOMPARE(exchangeRide(*bsa, reader, RideMessageBuilder(4720, QDateTime::currentDateTime())),
            QStringLiteral("AC 4720"));
        QVERIFY2(program.waitFor("Verbinding met " + address + '\n'), program.tail().constData());
    } else {
        // Two tries with a ride each, within the minute: both closed at once, unanswered, and logged once.
        for (int ride : { 4721, 4722 }) {
            auto peer = connectFrom(from, program.port());
            QVERIFY(peer);
            peer->write(Inpakken(RideMessageBuilder(ride, QDateTime::currentDateTime()).text(), false));
            QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 5000);
            QCOMPARE(peer->readAll(), QByteArray());
        }
        const QByteArray refused = "SI: VERBINDING VAN " + address + " GEWEIGERD: NIET IN BSAToegestaneAdressen";
        QVERIFY2(program.waitFor(refused), program.tail().constData());
        QVERIFY2(program.stop() == 0, program.tail().constData());
        QCOMPARE(program.output().count(refused), 1);
        QVERIFY(!program.output().contains("Verbinding met " + address));
        QVERIFY(!program.output().contains("<ACK"));
        return;
    }
    QVERIFY2(program.stop() == 0, program.tail().constData());
}

void TestHeadlessUnderStrain::idleConnectionsCannotLockBsaOut()
{
    BSA_UNIX_ONLY("a limit on open descriptors");
    // A peer on another machine opens more connections than the link has places for and sends nothing. BSA's
    // connection that was working goes on working, and a new one of BSA's, waiting behind the idle ones in the
    // system's queue, is taken and answered.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(writeSqliteSettings(home.path()));
    Program program(home);
    program.limitDescriptors(64, 64);
    QVERIFY(program.start());
    QVERIFY2(program.waitFor("BSA Callcenter Server werd gestart"), program.tail().constData());

    auto working = connectTo(program.port());
    QVERIFY(working);
    AnswerReader workingAnswers;
    QCOMPARE(exchangeRide(*working, workingAnswers, RideMessageBuilder(4730, QDateTime::currentDateTime())),
        QStringLiteral("AC 4730"));

    constexpr int Idle = 100; // beyond the places that 64 open files leave
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < Idle; ++i) {
        idle.push_back(connectFrom(ForeignPeerAddress, program.port()));
        QVERIFY(idle.back());
    }
    QVERIFY2(
        program.waitFor("VERBINDINGEN OPEN, HET MAXIMUM: NIEUWE VERBINDINGEN WACHTEN"), program.tail().constData());

    // Taken once an idle connection has been silent for the grace of 5 s.
    auto late = connectTo(program.port());
    QVERIFY(late);
    late->write(Inpakken(RideMessageBuilder(4731, QDateTime::currentDateTime()).text(), false));
    AnswerReader lateAnswers;
    QVERIFY2(waitForAnswers(*late, lateAnswers, 1, 30000), program.tail().constData());
    QCOMPARE(lateAnswers.answers(), QStringList { "AC 4731" });
    QCOMPARE(exchangeRide(*working, workingAnswers, RideMessageBuilder(4732, QDateTime::currentDateTime())),
        QStringLiteral("AC 4732"));

    for (const char *line : { "SI: VERBINDING MET 127.0.0.2 GESLOTEN: NA ",
             " NOG NIETS ONTVANGEN, EEN NIEUWE VERBINDING WACHTTE OP EEN PLAATS",
             " VERBINDINGEN VAN 127.0.0.2 GESLOTEN: MEER DAN 32 ZONDER VOLLEDIG BERICHT" })
        QVERIFY2(program.waitFor(line), program.tail().constData());
    QVERIFY(!program.output().contains("Verbinding verbroken 127.0.0.1"));
    QVERIFY2(program.stop() == 0, program.tail().constData());
}

QTEST_GUILESS_MAIN(TestHeadlessUnderStrain)
#include "TestHeadlessUnderStrain.moc"

#include <functional>

#include <QtTest>
#include <QTcpServer>
#include <QTcpSocket>

#include "codec/RitBSA.h"
#include "codec/Envelope.h"
#include "tools/bsa-sim/HostSimulator.h"
#include "tools/bsa-sim/LoadReport.h"
#include "tools/bsa-sim/LoadRunner.h"
#include "tools/bsa-sim/MessageFile.h"
#include "tools/bsa-sim/RideMessageBuilder.h"
#include "tools/bsa-sim/RideSender.h"
#include "tests/support/FreePort.h"

namespace {

// Plays the link on 127.0.0.1: takes enveloped ride messages per connection, decodes them by hand and sends
// whatever the test's reply function gives (nothing when it gives nothing), after an optional delay.
class FakeLink
{
public:
    using Reply = std::function<QByteArray(const QStringList &fields)>;

    explicit FakeLink(Reply reply, quint16 port = 0)
        : m_reply(std::move(reply))
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, port));
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket] { read(socket); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    void setDelay(int ms) { m_delayMs = ms; }

    QList<QStringList> messages; // every message received, as its fields
    int connections = 0;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype start = buffer.indexOf("<ZORVAN>");
            const qsizetype end = buffer.indexOf("<EINDE>");
            if (start < 0 || end < start)
                return;
            const QByteArray text = QByteArray::fromHex(buffer.mid(start + 8, end - start - 8));
            buffer.remove(0, end + 7);
            const QStringList fields = QString::fromLatin1(text).split(QLatin1Char('\t'));
            messages << fields;
            const QByteArray reply = m_reply(fields);
            if (reply.isEmpty())
                continue;
            if (m_delayMs > 0) {
                QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, [socket, reply] { socket->write(reply); });
            } else {
                socket->write(reply);
            }
        }
    }

    QTcpServer m_server;
    Reply m_reply;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    int m_delayMs = 0;
};

QByteArray envelope(const QString &text)
{
    return "<ZORVAN>" + text.toLatin1().toHex().toUpper() + "<EINDE>";
}

QByteArray answer(const QString &soort, const QString &ride)
{
    return envelope(QStringLiteral("%1\tBSA\t6\t%2\t").arg(soort, ride));
}

// The link's usual answer: "AC" with the ride number of field 6.
QByteArray accept(const QStringList &fields)
{
    return answer(QStringLiteral("AC"), fields.value(5));
}

const QDateTime Now(QDate(2011, 1, 9), QTime(14, 5));

} // namespace

// The simulator plays BSA towards a link and the BSA host towards the link's feedback; what it sends must be what
// the link expects, and what it reports must be what the link answered.
class TestBsaSim final : public QObject
{
    Q_OBJECT
private slots:
    void builderPutsEveryValueInItsField_data();
    void builderPutsEveryValueInItsField();
    void builderRefusesFieldsTheRideLacks_data();
    void builderRefusesFieldsTheRideLacks();
    void linkReadsTheDefaultRide();
    void messageFileLines_data();
    void messageFileLines();
    void messageFileSkipsCommentsAndEmptyLines();

    void senderChecksEveryAnswer_data();
    void senderChecksEveryAnswer();
    void senderWaitsForALinkThatIsStillStarting_data();
    void senderWaitsForALinkThatIsStillStarting();

    void loadRunnerCountsEveryAnswer_data();
    void loadRunnerCountsEveryAnswer();
    void loadLatencyRunsFromSendToAnswer();
    void loadReportFigures_data();
    void loadReportFigures();

    void hostAnswersStatusMessages_data();
    void hostAnswersStatusMessages();
    void hostKeepsConnectionsApart();
};

void TestBsaSim::builderPutsEveryValueInItsField_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QStringList>("assignments");
    QTest::addColumn<int>("truncate"); // -1: all fields
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");

    QTest::newRow("the ride number goes into field 6") << false << QStringList() << -1 << 75 << 6 << "4711";
    QTest::newRow("the ride is an hour from now in field 10")
        << false << QStringList() << -1 << 75 << 10 << "201101091505";
    QTest::newRow("the second time in field 12 is the same")
        << false << QStringList() << -1 << 75 << 12 << "201101091505";
    QTest::newRow("a cancellation is of kind BV") << true << QStringList() << -1 << 75 << 1 << "BV";
    QTest::newRow("a field set by number lands in that field")
        << false << QStringList { "13=Pietersen" } << -1 << 75 << 13 << "Pietersen";
    QTest::newRow("a field set by name lands in its place")
        << false << QStringList { "OphPostcode=9999ZZ" } << -1 << 75 << 20 << "9999ZZ";
    QTest::newRow("a name is matched without regard to case")
        << false << QStringList { "afrekenwijze=REKENING" } << -1 << 75 << 59 << "REKENING";
    QTest::newRow("the last field has a name too")
        << false << QStringList { "GratisKinderen=2" } << -1 << 75 << 75 << "2";
    QTest::newRow("a value keeps its spaces and everything after the first =")
        << false << QStringList { "RitTekst= a=b " } << -1 << 75 << 40 << " a=b ";
    QTest::newRow("the later of two settings of a field wins")
        << false << QStringList { "Lopers=3", "34=4" } << -1 << 75 << 34 << "4";
    QTest::newRow("setting field 6 changes the ride number")
        << false << QStringList { "BSRitnummer=815" } << -1 << 75 << 6 << "815";
    QTest::newRow("a line break inside a value goes out as ESC L F")
        << false << QStringList { "AanTekst=Bel aan\nAchterdeur" } << -1 << 75 << 68 << "Bel aan\x1bLFAchterdeur";
    QTest::newRow("CR LF inside a value becomes one ESC L F")
        << false << QStringList { "AanTekst=a\r\nb\rc" } << -1 << 75 << 68 << "a\x1bLFb\x1bLFc";
    QTest::newRow("truncation keeps the first fields as they were") << false << QStringList() << 58 << 58 << 58 << "0";
    QTest::newRow("truncation applies after setting a later field")
        << false << QStringList { "75=9" } << 59 << 59 << 59 << "CONTANT";
}

void TestBsaSim::builderPutsEveryValueInItsField()
{
    QFETCH(bool, cancel);
    QFETCH(QStringList, assignments);
    QFETCH(int, truncate);
    QFETCH(int, fieldCount);
    QFETCH(int, field);
    QFETCH(QString, value);

    RideMessageBuilder builder(4711, Now);
    if (cancel)
        builder.setKind(RideMessageBuilder::Kind::Cancellation);
    for (const QString &assignment : assignments) {
        QString error;
        QVERIFY2(builder.setAssignment(assignment, &error), qPrintable(error));
    }
    if (truncate >= 0)
        builder.truncate(truncate);

    const QStringList fields = builder.text().split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), fieldCount);
    QCOMPARE(fields.at(field - 1), value);
    QCOMPARE(fields.mid(1, 2), (QStringList { "BSA", "6" }));
    QCOMPARE(builder.rideNumber(), fields.at(5).toInt());
}

void TestBsaSim::builderRefusesFieldsTheRideLacks_data()
{
    QTest::addColumn<QString>("assignment");
    QTest::newRow("a name the ride record lacks") << "Naam=Jansen";
    QTest::newRow("field number 0") << "0=x";
    QTest::newRow("field number 76") << "76=x";
    QTest::newRow("no equals sign") << "NaamReiziger";
    QTest::newRow("no field before the equals sign") << "=x";
}

void TestBsaSim::builderRefusesFieldsTheRideLacks()
{
    QFETCH(QString, assignment);
    RideMessageBuilder builder(4711, Now);
    const QString before = builder.text();
    QString error;
    QVERIFY(!builder.setAssignment(assignment, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(builder.text(), before);
}

void TestBsaSim::linkReadsTheDefaultRide()
{
    // The link's own parser must find a complete, plausible ride in what the builder sends.
    RideMessageBuilder builder(4711, Now);
    QString error;
    QVERIFY(builder.setAssignment(QStringLiteral("AanTekst=Bel aan\nAchterdeur"), &error));
    tRitBSA rit;
    QVERIFY2(TekstNaarRit(markLineBreaks(builder.text()), rit, &error), qPrintable(error));
    QCOMPARE(rit.Soort, QStringLiteral("BN"));
    QCOMPARE(rit.BSRitnummer, 4711);
    QCOMPARE(rit.Tijdstip, QStringLiteral("201101091505"));
    QCOMPARE(rit.Telefoon, 201234567);
    QCOMPARE(rit.OphPostcode, QStringLiteral("1234AB"));
    QCOMPARE(rit.BestPostcode, QStringLiteral("1234AB"));
    QCOMPARE(rit.Lopers, 1);
    QCOMPARE(rit.Bedrag, 1250);
    QCOMPARE(rit.Kilometers, 125);
    QCOMPARE(rit.Afrekenwijze, QStringLiteral("CONTANT"));
    QCOMPARE(rit.Blind, QStringLiteral("N"));
    QCOMPARE(rit.AanTekst, QStringLiteral("Bel aan#CRLF#Achterdeur"));
}

void TestBsaSim::messageFileLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");
    QTest::newRow("fields are separated by space, bar, space") << "BN | BSA | 6"
                                                               << "BN\tBSA\t6";
    QTest::newRow("runs of separators enclose empty fields") << "6 |  |  | 5001"
                                                             << "6\t\t\t5001";
    QTest::newRow("a line with TABs is split at TABs only") << "BN\ta | b\t6"
                                                            << "BN\ta | b\t6";
    QTest::newRow("spaces inside and around a value stay") << " a  b  | c "
                                                           << " a  b \tc ";
    QTest::newRow("backslash n in a value is a line break") << "x | Bel aan\\nAchterdeur"
                                                            << "x\tBel aan\x1bLFAchterdeur";
}

void TestBsaSim::messageFileLines()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    QCOMPARE(MessageFile::messageFromLine(line), text);
}

void TestBsaSim::messageFileSkipsCommentsAndEmptyLines()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("rides.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# kind | value | code\r\nBN | BSA | 6\r\n\r\nBV\tBSA\t6\n");
    file.close();
    QStringList messages;
    QString error;
    QVERIFY2(MessageFile::read(file.fileName(), &messages, &error), qPrintable(error));
    QCOMPARE(messages, (QStringList { "BN\tBSA\t6", "BV\tBSA\t6" }));
    QVERIFY(!MessageFile::read(dir.filePath("absent.txt"), &messages, &error));
    QVERIFY(error.contains("absent.txt"));
}

void TestBsaSim::senderChecksEveryAnswer_data()
{
    QTest::addColumn<FakeLink::Reply>("reply");
    QTest::addColumn<bool>("crlfExpected");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("ok");

    const FakeLink::Reply withCrlf = [](const QStringList &fields) { return accept(fields) + "\r\n"; };
    QTest::newRow("AC with the ride number is success")
        << FakeLink::Reply(accept) << false << QStringList { "AC BSA 6 4711", "AC BSA 6 4711" } << true;
    QTest::newRow("NC is a failure but the next message still goes")
        << FakeLink::Reply([](const QStringList &) { return answer("NC", "0"); }) << false
        << QStringList { "NC BSA 6 0", "NC BSA 6 0" } << false;
    QTest::newRow("AC for another ride is a failure")
        << FakeLink::Reply([](const QStringList &) { return answer("AC", "12"); }) << false
        << QStringList { "AC BSA 6 12", "AC BSA 6 12" } << false;
    QTest::newRow("CR LF after each answer is success when expected")
        << withCrlf << true << QStringList { "AC BSA 6 4711", "AC BSA 6 4711" } << true;
    QTest::newRow("CR LF that was not expected is a failure")
        << withCrlf << false << QStringList { "AC BSA 6 4711", "AC BSA 6 4711" } << false;
    QTest::newRow("an answer without the expected CR LF is a failure")
        << FakeLink::Reply(accept) << true << QStringList() << false;
    QTest::newRow("no answer is a failure")
        << FakeLink::Reply([](const QStringList &) { return QByteArray(); }) << false << QStringList() << false;
}

void TestBsaSim::senderChecksEveryAnswer()
{
    QFETCH(FakeLink::Reply, reply);
    QFETCH(bool, crlfExpected);
    QFETCH(QStringList, answers);
    QFETCH(bool, ok);

    FakeLink link(reply);
    RideSender sender;
    sender.setCrlfExpected(crlfExpected);
    sender.setTimeout(std::chrono::milliseconds(500));
    QStringList received;
    connect(&sender, &RideSender::answerReceived, this, [&received](const QString &a) { received << a; });
    QSignalSpy finished(&sender, &RideSender::finished);
    const QString text = RideMessageBuilder(4711, Now).text();
    sender.start(QStringLiteral("127.0.0.1"), link.port(), { { text, 4711 }, { text, 4711 } });
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().toBool(), ok);
    QCOMPARE(received, answers);
}

void TestBsaSim::senderWaitsForALinkThatIsStillStarting_data()
{
    QTest::addColumn<int>("listenAfterMs"); // -1: nothing ever listens
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("said");
    QTest::newRow("a link that listens after a while gets the ride") << 400 << true << QString();
    QTest::newRow("a port where nothing listens fails at the deadline with the refusal")
        << -1 << false << QStringLiteral("No connection to 127.0.0.1:%1 within 1000 ms: ");
}

// A script starts the link and sends at once: the connection is refused until the link listens.
void TestBsaSim::senderWaitsForALinkThatIsStillStarting()
{
    QFETCH(int, listenAfterMs);
    QFETCH(bool, ok);
    QFETCH(QString, said);
    const quint16 port = freeLoopbackPort();
    QVERIFY(port != 0);
    std::unique_ptr<FakeLink> link;
    if (listenAfterMs >= 0)
        QTimer::singleShot(listenAfterMs, this, [&link, port] { link = std::make_unique<FakeLink>(accept, port); });
    RideSender sender;
    sender.setTimeout(std::chrono::milliseconds(1000));
    QStringList received;
    QStringList problems;
    connect(&sender, &RideSender::answerReceived, this, [&received](const QString &a) { received << a; });
    connect(&sender, &RideSender::problem, this, [&problems](const QString &p) { problems << p; });
    QSignalSpy finished(&sender, &RideSender::finished);
    sender.start(QStringLiteral("127.0.0.1"), port, { { RideMessageBuilder(4711, Now).text(), 4711 } });
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().toBool(), ok);
    QCOMPARE(received, ok ? QStringList { "AC BSA 6 4711" } : QStringList());
    if (ok) {
        QCOMPARE(problems, QStringList());
        QCOMPARE(link->connections, 1);
    } else {
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith(said.arg(port)) && problems.first().contains("refused"),
            qPrintable(problems.first()));
    }
}

void TestBsaSim::loadRunnerCountsEveryAnswer_data()
{
    QTest::addColumn<FakeLink::Reply>("reply");
    QTest::addColumn<int>("rides");
    QTest::addColumn<int>("connections");
    QTest::addColumn<bool>("fragment");
    QTest::addColumn<double>("cancelRatio");
    QTest::addColumn<int>("acknowledged");
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("wrong");
    QTest::addColumn<int>("missing");
    QTest::addColumn<int>("cancellations");

    // Ride numbers start at 1000.
    QTest::newRow("every ride over three connections is acknowledged")
        << FakeLink::Reply(accept) << 30 << 3 << false << 0.0 << 30 << 0 << 0 << 0 << 0;
    QTest::newRow("fragmented messages all arrive whole")
        << FakeLink::Reply(accept) << 12 << 2 << true << 0.0 << 12 << 0 << 0 << 0 << 0;
    QTest::newRow("refused rides are counted as NC") << FakeLink::Reply([](const QStringList &fields) {
        return fields.value(5).toInt() % 5 == 0 ? answer("NC", fields.value(5)) : accept(fields);
    }) << 20 << 2 << false << 0.0 << 16 << 4 << 0 << 0
                                                     << 0;
    QTest::newRow("an AC for another ride counts as wrong") << FakeLink::Reply([](const QStringList &fields) {
        return fields.value(5) == "1003" ? answer("AC", "1004") : accept(fields);
    }) << 8 << 2 << false << 0.0 << 7 << 0 << 1 << 0 << 0;
    QTest::newRow("half of the accepted rides are cancelled again")
        << FakeLink::Reply(accept) << 10 << 2 << false << 0.5 << 15 << 0 << 0 << 0 << 5;
    QTest::newRow("an unanswered ride is missing when the run stops") << FakeLink::Reply([](const QStringList &fields) {
        return fields.value(5) == "1002" ? QByteArray() : accept(fields);
    }) << 6 << 2 << false << 0.0 << 5 << 0 << 0 << 1 << 0;
}

void TestBsaSim::loadRunnerCountsEveryAnswer()
{
    QFETCH(FakeLink::Reply, reply);
    QFETCH(int, rides);
    QFETCH(int, connections);
    QFETCH(bool, fragment);
    QFETCH(double, cancelRatio);
    QFETCH(int, acknowledged);
    QFETCH(int, refused);
    QFETCH(int, wrong);
    QFETCH(int, missing);
    QFETCH(int, cancellations);

    FakeLink link(reply);
    LoadRunner::Options options;
    options.port = link.port();
    options.rides = rides;
    options.connections = connections;
    options.fragment = fragment;
    options.firstRide = 1000;
    options.cancelRatio = cancelRatio;
    options.timeout = std::chrono::milliseconds(missing > 0 ? 1000 : 10000);
    LoadRunner runner(options);
    QSignalSpy finished(&runner, &LoadRunner::finished);
    runner.start();
    QVERIFY(finished.wait(15000));

    const LoadReport &report = runner.report();
    QCOMPARE(report.acknowledged, acknowledged);
    QCOMPARE(report.refused, refused);
    QCOMPARE(report.wrong, wrong);
    QCOMPARE(report.missing, missing);
    QCOMPARE(report.cancellations, cancellations);
    QCOMPARE(report.latenciesMs.size(), acknowledged + refused + wrong);
    QCOMPARE(report.ok(), refused + wrong + missing == 0);
    QCOMPARE(link.connections, connections);

    // Every ride went out once with its own number, as a full ride message; each cancellation after its ride.
    QSet<int> newRides;
    for (int i = 0; i < link.messages.size(); ++i) {
        const QStringList &fields = link.messages.at(i);
        QCOMPARE(fields.size(), RideMessageBuilder::FieldCount);
        const int ride = fields.at(5).toInt();
        if (fields.at(0) == "BN") {
            QVERIFY(!newRides.contains(ride));
            newRides << ride;
        } else {
            QCOMPARE(fields.at(0), QStringLiteral("BV"));
            QVERIFY(newRides.contains(ride));
        }
    }
    QCOMPARE(newRides.size(), rides);
    for (int ride : std::as_const(newRides))
        QVERIFY(ride >= 1000 && ride < 1000 + rides);
}

void TestBsaSim::loadLatencyRunsFromSendToAnswer()
{
    // A link that takes its time must show in every latency, and the wall time must cover all rides.
    FakeLink link(accept);
    link.setDelay(40);
    LoadRunner::Options options;
    options.port = link.port();
    options.rides = 4;
    options.connections = 2;
    options.firstRide = 1;
    LoadRunner runner(options);
    QSignalSpy finished(&runner, &LoadRunner::finished);
    runner.start();
    QVERIFY(finished.wait(10000));
    const LoadReport &report = runner.report();
    QCOMPARE(report.acknowledged, 4);
    for (double ms : report.latenciesMs)
        QVERIFY2(ms >= 35, qPrintable(QString::number(ms)));
    QVERIFY(report.seconds >= 2 * 0.035); // two rides after each other on each connection
}

void TestBsaSim::loadReportFigures_data()
{
    QTest::addColumn<QList<double>>("latencies");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("p99");
    QTest::addColumn<double>("max");

    QList<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred << i;
    QTest::newRow("no answers give zeros") << QList<double>() << 0.0 << 0.0 << 0.0;
    QTest::newRow("one answer is every figure") << QList<double> { 5 } << 5.0 << 5.0 << 5.0;
    QTest::newRow("an even count takes the mean of the middle two")
        << QList<double> { 4, 1, 3, 2 } << 2.5 << 4.0 << 4.0;
    QTest::newRow("p99 of 1 to 100 is 99 whatever the order") << hundred << 50.5 << 99.0 << 100.0;
}

void TestBsaSim::loadReportFigures()
{
    QFETCH(QList<double>, latencies);
    QFETCH(double, median);
    QFETCH(double, p99);
    QFETCH(double, max);

    LoadReport report;
    report.rides = latencies.size();
    report.acknowledged = latencies.size();
    report.ridesAnswered = latencies.size();
    report.seconds = 2;
    report.latenciesMs = latencies;
    QCOMPARE(report.latencyMedianMs(), median);
    QCOMPARE(report.latencyPercentileMs(99), p99);
    QCOMPARE(report.latencyMaxMs(), max);

    const QJsonObject json = QJsonDocument::fromJson(report.json()).object();
    QCOMPARE(json.value("rides").toInt(), int(latencies.size()));
    QCOMPARE(json.value("ridesPerSecond").toDouble(), latencies.size() / 2.0);
    QCOMPARE(json.value("latencyP99Ms").toDouble(), p99);
    QCOMPARE(json.value("ok").toBool(), true);
}

void TestBsaSim::hostAnswersStatusMessages_data()
{
    QTest::addColumn<HostSimulator::Answer>("mode");
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QByteArray>("expected");

    // A status message of ride 812 as the link builds it: 30 fields, each followed by a TAB.
    const QString status = QStringLiteral(
        "BT\tBSA\t6\t812\t201101091405\t\t17\t\tO\t189912300000\t0.0\t0.0\t189912300000\t201101091430\t0\t0.0\t0.0\t"
        "0\t0000\t201101091435\t0\t0.0\t0.0\t189912300000\tT\t1\t0.0\t0.0\t2350\t42\t");
    const QByteArray wire = envelope(status);
    // "AC" TAB "BSA" TAB "6" TAB "812" TAB, enveloped, without CR LF.
    const QByteArray ac = "<ZORVAN>41430942534109360938313209<EINDE>";
    const QByteArray nc = "<ZORVAN>4E430942534109360938313209<EINDE>";

    QTest::newRow("a status message gets AC with its ride number")
        << HostSimulator::Answer::Accept << QByteArrayList { wire } << ac;
    QTest::newRow("a host told to refuse answers NC") << HostSimulator::Answer::Refuse << QByteArrayList { wire } << nc;
    QTest::newRow("a message in three writes is answered once")
        << HostSimulator::Answer::Accept << QByteArrayList { wire.left(5), wire.mid(5, 40), wire.mid(45) } << ac;
    QTest::newRow("two messages in one write get two answers")
        << HostSimulator::Answer::Accept << QByteArrayList { wire + wire } << ac + ac;
    QTest::newRow("the test acknowledgement of the link is answered for its ride")
        << HostSimulator::Answer::Accept << QByteArrayList { envelope("AC\tBSA\t6\t12345\t") }
        << QByteArray("<ZORVAN>414309425341093609313233343509<EINDE>");
    QTest::newRow("a message without a ride number is answered for ride 0")
        << HostSimulator::Answer::Accept << QByteArrayList { envelope("BT\tBSA") }
        << QByteArray("<ZORVAN>4143094253410936093009<EINDE>");
}

void TestBsaSim::hostAnswersStatusMessages()
{
    QFETCH(HostSimulator::Answer, mode);
    QFETCH(QByteArrayList, writes);
    QFETCH(QByteArray, expected);

    HostSimulator host;
    host.setAnswer(mode);
    QSignalSpy messages(&host, &HostSimulator::messageReceived);
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    QTcpSocket link;
    link.connectToHost(QHostAddress::LocalHost, host.port());
    QVERIFY(link.waitForConnected(5000));
    for (const QByteArray &bytes : writes) {
        link.write(bytes);
        QVERIFY(link.waitForBytesWritten(5000));
        QTest::qWait(10); // let each write arrive as a read of its own
    }
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += link.readAll()).size() >= expected.size(), 5000);
    QCOMPARE(received, expected);
    // The TAB that ends the last field of a status message starts no 31st one.
    QVERIFY(!messages.isEmpty());
    const QStringList fields = messages.first().first().toStringList();
    if (fields.value(0) == u"BT" && fields.size() > 2)
        QCOMPARE(fields.size(), 30);
}

void TestBsaSim::hostKeepsConnectionsApart()
{
    // Halves of two messages on two connections must not mix, and with a count the host ends after the last answer.
    HostSimulator host;
    host.setCount(2);
    QSignalSpy messages(&host, &HostSimulator::messageReceived);
    QSignalSpy finished(&host, &HostSimulator::finished);
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    QTcpSocket first;
    QTcpSocket second;
    first.connectToHost(QHostAddress::LocalHost, host.port());
    second.connectToHost(QHostAddress::LocalHost, host.port());
    QVERIFY(first.waitForConnected(5000));
    QVERIFY(second.waitForConnected(5000));

    const QByteArray one = envelope("BT\tBSA\t6\t1\t");
    const QByteArray two = envelope("BT\tBSA\t6\t2\t");
    first.write(one.left(12));
    QVERIFY(first.waitForBytesWritten(5000));
    second.write(two.left(20));
    QVERIFY(second.waitForBytesWritten(5000));
    QTRY_VERIFY_WITH_TIMEOUT(host.findChildren<QTcpSocket *>().size() == 2, 5000);
    first.write(one.mid(12));
    second.write(two.mid(20));
    QVERIFY(finished.wait(5000));
    QCOMPARE(messages.size(), 2);

    QByteArray toFirst;
    QByteArray toSecond;
    QTRY_VERIFY_WITH_TIMEOUT((toFirst += first.readAll()).size() >= 34, 5000);
    QTRY_VERIFY_WITH_TIMEOUT((toSecond += second.readAll()).size() >= 34, 5000);
    QCOMPARE(toFirst, QByteArray("<ZORVAN>4143094253410936093109<EINDE>"));
    QCOMPARE(toSecond, QByteArray("<ZORVAN>4143094253410936093209<EINDE>"));
}

QTEST_GUILESS_MAIN(TestBsaSim)
#include "TestBsaSim.moc"

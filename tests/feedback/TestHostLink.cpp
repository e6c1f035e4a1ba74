#include <memory>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "codec/Envelope.h"
#include "feedback/HostReplies.h"
#include "feedback/HostSender.h"
#include "feedback/OutgoingQueue.h"
#include "platform/BSAClient.h"
#include "settings/Settings.h"
#include "tests/support/FreePort.h"

// The outgoing queue on its way to a BSA host over real loopback TCP, one line per tick, and the host's replies
// in the operator log.
namespace {
QByteArray envelope(const QByteArray &hex)
{
    return "<ZORVAN>" + hex + "<EINDE>";
}

QByteArray hexOf(const QString &text)
{
    return TekstNaarHex(text);
}

// The queued line of a status message for a BSA ride, and the host's reply to it.
QString statusLine(int ride)
{
    return QString::fromLatin1(hexOf(QStringLiteral("BT\tBSA\t6\t%1\t201101091405\t\t17\t").arg(ride)));
}

QByteArray reply(const char *soort, int ride)
{
    return envelope(hexOf(QStringLiteral("%1\tBSA\t6\t%2\t").arg(QLatin1String(soort)).arg(ride)));
}

// Reads what the host received until it holds `expected`, bounded in time.
bool receives(QTcpSocket &host, QByteArray &received, const QByteArray &expected, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!received.contains(expected) && !deadline.hasExpired()) {
        QTest::qWait(10); // the link's timers and sockets run meanwhile
        received += host.readAll();
    }
    return received.contains(expected);
}
} // namespace

class TestHostLink final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void leavesTheConnectionAloneWithNothingQueued();
    void sendsOneLinePerTickInQueueOrder();
    void reportsWhatKeepsALineFromGoing_data();
    void reportsWhatKeepsALineFromGoing();
    void sendsTheLineOnceTheHostIsUp();
    void holdsBackWhileTheHostDoesNotRead();
    void sendsALineAgainWhenTheConnectionDropsBeforeItLeft();
    void logsEachReplyOnItsOwn_data();
    void logsEachReplyOnItsOwn();
    void aStatusMessageWaitsForItsAnswer_data();
    void aStatusMessageWaitsForItsAnswer();
    void sendsAnUnansweredStatusMessageAgainOnANewConnection();
    void saysOnceThatTheHostDropsEveryConnection();
    void closesAConnectionThatFloodsStrayReplies_data();
    void closesAConnectionThatFloodsStrayReplies();

private:
    // Ticks until the client is connected and the host has the connection.
    std::unique_ptr<QTcpSocket> connectHost();
    void tick() { m_sender->sendNext(); }

    std::unique_ptr<QTemporaryDir> m_queueDir;
    Settings m_settings;
    std::unique_ptr<QTcpServer> m_host;
    std::unique_ptr<OutgoingQueue> m_queue;
    std::unique_ptr<BSAClient> m_client;
    std::unique_ptr<HostSender> m_sender;
    std::unique_ptr<HostReplies> m_replies;
    QStringList m_log; // L: logged, E: through the exception hook
};

void TestHostLink::init()
{
    m_host = std::make_unique<QTcpServer>();
    QVERIFY(m_host->listen(QHostAddress::LocalHost, 0));
    m_settings = Settings();
    m_settings.BSAHostAdres = QStringLiteral("127.0.0.1");
    m_settings.BSAHostPoort = QString::number(m_host->serverPort());
    m_queueDir = std::make_unique<QTemporaryDir>();
    m_queue = std::make_unique<OutgoingQueue>(m_queueDir->path());
    m_queue->restore();
    m_client = std::make_unique<BSAClient>();
    m_sender = std::make_unique<HostSender>(*m_client, *m_queue, m_settings);
    m_replies = std::make_unique<HostReplies>(*m_client, *m_sender);
    m_log.clear();
    connect(m_sender.get(), &HostSender::logLine, this, [this](const QString &l) { m_log << "L:" + l; });
    connect(m_sender.get(), &HostSender::exceptionRaised, this, [this](const QString &l) { m_log << "E:" + l; });
    connect(m_replies.get(), &HostReplies::logLine, this, [this](const QString &l) { m_log << "L:" + l; });
    connect(m_replies.get(), &HostReplies::exceptionRaised, this, [this](const QString &l) { m_log << "E:" + l; });
}

void TestHostLink::cleanup()
{
    m_replies.reset();
    m_sender.reset();
    m_client.reset();
    m_queue.reset();
    m_host.reset();
}

std::unique_ptr<QTcpSocket> TestHostLink::connectHost()
{
    QSignalSpy connected(m_client.get(), &BSAClient::connected);
    tick();
    if (!connected.wait(5000) || !(m_host->hasPendingConnections() || m_host->waitForNewConnection(5000)))
        return nullptr;
    return std::unique_ptr<QTcpSocket>(m_host->nextPendingConnection());
}

void TestHostLink::leavesTheConnectionAloneWithNothingQueued()
{
    // A port that is not a number would be reported at the first attempt to connect.
    m_settings.BSAHostPoort = QStringLiteral("abc");
    tick();
    tick();
    QCOMPARE(m_log, QStringList());
    QVERIFY(!m_client->isActive());
}

void TestHostLink::sendsOneLinePerTickInQueueOrder()
{
    m_queue->append(QStringLiteral("4254"));
    m_queue->append(QStringLiteral("414309"));
    auto host = connectHost(); // the first tick only connects
    QVERIFY(host);
    QCOMPARE(m_log, QStringList());
    QCOMPARE(m_queue->lines().size(), 2);

    tick();
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += host->readAll()), envelope("4254"), 5000);
    QCOMPARE(m_log, QStringList { "L:CO: <ZORVAN>4254<EINDE>" });
    QCOMPARE(m_queue->lines(), QStringList { "414309" });

    tick();
    QTRY_COMPARE_WITH_TIMEOUT((received += host->readAll()), envelope("4254") + envelope("414309"), 5000);
    QCOMPARE(m_log.constLast(), QStringLiteral("L:CO: <ZORVAN>414309<EINDE>"));
    QVERIFY(m_queue->isEmpty());
    QFile file(m_queue->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray());

    tick(); // nothing left: nothing more goes out, and the connection stays
    QTest::qWait(50);
    QCOMPARE(host->readAll(), QByteArray());
    QVERIFY(m_client->isActive());
}

void TestHostLink::reportsWhatKeepsALineFromGoing_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port"); // "free": a port nobody listens on
    QTest::addColumn<QString>("reported");
    QTest::newRow("a host that is down refuses the connection") << "127.0.0.1"
                                                                << "free"
                                                                << "E:Asynchronous socket error 10061";
    QTest::newRow("a port that is not a number is reported with the host")
        << "127.0.0.1"
        << "abc"
        << "L:CO: 'abc' is geen geldig poortnummer 127.0.0.1";
    QTest::newRow("a port beyond 65535 is reported with the host")
        << "127.0.0.1"
        << "70000"
        << "L:CO: '70000' is geen geldig poortnummer 127.0.0.1";
    QTest::newRow("a port with a sign is no port") << "127.0.0.1"
                                                   << "+12000"
                                                   << "L:CO: '+12000' is geen geldig poortnummer 127.0.0.1";
    QTest::newRow("a host address that does not resolve is reported with the host") << ""
                                                                                    << "free"
                                                                                    << "L:CO: Windows socket error: ";
}

void TestHostLink::reportsWhatKeepsALineFromGoing()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, reported);
    m_settings.BSAHostAdres = address;
    m_settings.BSAHostPoort = port == QLatin1String("free") ? QString::number(freeLoopbackPort()) : port;
    m_queue->append(QStringLiteral("4254"));
    tick();
    QTRY_VERIFY_WITH_TIMEOUT(!m_log.isEmpty(), 5000);
    QVERIFY2(m_log.first().startsWith(reported), qPrintable(m_log.first()));
    if (reported.contains(QStringLiteral("Windows socket error")))
        QVERIFY2(m_log.first().endsWith(QStringLiteral("(11001), on API 'gethostbyname' ")), qPrintable(m_log.first()));
    QCOMPARE(m_queue->lines(), QStringList { "4254" });
}

void TestHostLink::sendsTheLineOnceTheHostIsUp()
{
    const quint16 port = m_host->serverPort();
    m_host->close();
    m_queue->append(QStringLiteral("4254"));
    tick();
    QTRY_COMPARE_WITH_TIMEOUT(m_log, QStringList { "E:Asynchronous socket error 10061" }, 5000);
    QVERIFY(m_host->listen(QHostAddress::LocalHost, port));
    auto host = connectHost();
    QVERIFY(host);
    tick();
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += host->readAll()), envelope("4254"), 5000);
    QVERIFY(m_queue->isEmpty());
}

void TestHostLink::holdsBackWhileTheHostDoesNotRead()
{
    // More than the system buffers between the two ends: most of it waits in the link.
    const QString big(16 * 1024 * 1024, u'A');
    m_queue->append(big);
    m_queue->append(QStringLiteral("4254"));
    auto host = connectHost();
    QVERIFY(host);
    host->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);

    tick();
    QVERIFY(m_client->bytesToWrite() > 0);
    tick(); // the first line has not left: the second waits
    tick();
    QCOMPARE(m_log.size(), 2);
    QVERIFY(m_log.at(0).startsWith(QStringLiteral("L:CO: <ZORVAN>AAAA")));
    QCOMPARE(m_log.at(1), QStringLiteral("L:CO: BSA HOST NEEMT GEEN GEGEVENS AAN, PAKKET UIT WACHT 127.0.0.1"));
    QCOMPARE(m_queue->lines().size(), 2); // both are still in the file
    QVERIFY(m_client->bytesToWrite() <= big.size() + 15); // one line at most waits in memory

    // The host reads again: the first line leaves the queue once the system took all of it.
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += host->readAll()).size() == big.size() + 15, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_queue->lines(), QStringList { "4254" }, 5000);
    tick();
    QTRY_VERIFY_WITH_TIMEOUT((received += host->readAll()).endsWith(envelope("4254")), 5000);
    QCOMPARE(received, envelope(big.toLatin1()) + envelope("4254"));
    QVERIFY(m_queue->isEmpty());
}

void TestHostLink::sendsALineAgainWhenTheConnectionDropsBeforeItLeft()
{
#ifdef Q_OS_WIN
    QSKIP("under Wine the host's reset is not seen while 16 MB wait to be sent; whether Windows does the same is still "
          "to be found");
#endif
    const QString big(16 * 1024 * 1024, u'B');
    m_queue->append(big);
    auto host = connectHost();
    QVERIFY(host);
    host->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
    tick();
    QVERIFY(m_client->bytesToWrite() > 0);
    QSignalSpy disconnected(m_client.get(), &BSAClient::disconnected);
    host->abort();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(m_log.contains(QStringLiteral("L:CO: VERBINDING MET BSA HOST VERBROKEN, BERICHT BLIJFT IN PAKKET UIT")));
    QCOMPARE(m_queue->lines(), QStringList { big });

    auto again = connectHost();
    QVERIFY(again);
    tick();
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += again->readAll()).size() == big.size() + 15, 20000);
    QCOMPARE(received, envelope(big.toLatin1()));
    QTRY_VERIFY_WITH_TIMEOUT(m_queue->isEmpty(), 5000);
}

void TestHostLink::logsEachReplyOnItsOwn_data()
{
    // The status message of ride 12345 waits for its answer; ride 812 waits for nothing.
    QTest::addColumn<QByteArrayList>("reads"); // what the host writes, one entry per write
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<bool>("answered"); // the waiting message left the queue
    const QByteArray ac = reply("AC", 12345);
    const QByteArray nc = reply("NC", 812);
    const QString stray = QStringLiteral(
        "L:CI: ANTWOORD VAN BSA HOST ZONDER WACHTEND BERICHT; VERDERE OP DEZE VERBINDING WORDEN ALLEEN GETELD");
    const QStringList acLines { "L:CI: " + QString::fromLatin1(ac), "L:CI STATUS: AC", "L:CI WAARDE: BSA",
        "L:CI BS RITNUMMER: 12345" };
    const QStringList ncLines { "L:CI: " + QString::fromLatin1(nc), "L:CI STATUS: NC", "L:CI WAARDE: BSA",
        "L:CI BS RITNUMMER: 812" };

    QTest::newRow("an acknowledgement gives four lines") << QByteArrayList { ac } << acLines << true;
    QTest::newRow("a refusal of another ride is logged like an acknowledgement, once")
        << QByteArrayList { nc, nc } << ncLines + QStringList { stray } << false;
    QTest::newRow("a reply followed by CR LF") << QByteArrayList { ac + "\r\n" } << acLines << true;
    QTest::newRow("two replies in one read")
        << QByteArrayList { ac + nc } << acLines + ncLines + QStringList { stray } << true;
    QTest::newRow("a reply split over two reads") << QByteArrayList { ac.left(11), ac.mid(11) } << acLines << true;
    QTest::newRow("fields after the fourth are ignored")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6\t12345\tx\ty")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6\t12345\tx\ty"))), "L:CI STATUS: AC",
               "L:CI WAARDE: BSA", "L:CI BS RITNUMMER: 12345" }
        << true;
    QTest::newRow("a ride number that is not a number is 0")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6\t12a\t")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6\t12a\t"))), "L:CI STATUS: AC",
               "L:CI WAARDE: BSA", "L:CI BS RITNUMMER: 0", stray }
        << false;
    QTest::newRow("an empty reply logs its envelope and the failure")
        << QByteArrayList { "<ZORVAN><EINDE>" }
        << QStringList { "L:CI: <ZORVAN><EINDE>", "E:List index out of bounds (0)", stray } << false;
    QTest::newRow("a reply of three fields stops after the envelope")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6"))),
               "E:List index out of bounds (3)", stray }
        << false;
    QTest::newRow("another kind for the waiting ride ends no wait")
        << QByteArrayList { reply("BT", 12345) }
        << QStringList { "L:CI: " + QString::fromLatin1(reply("BT", 12345)), "L:CI STATUS: BT", "L:CI WAARDE: BSA",
               "L:CI BS RITNUMMER: 12345", stray }
        << false;
}

void TestHostLink::logsEachReplyOnItsOwn()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QStringList, logged);
    QFETCH(bool, answered);
    m_queue->append(statusLine(12345));
    auto host = connectHost();
    QVERIFY(host);
    tick();
    QByteArray received;
    QVERIFY(receives(*host, received, envelope(statusLine(12345).toLatin1())));
    m_log.clear();
    for (const QByteArray &read : reads) {
        host->write(read);
        QVERIFY(host->waitForBytesWritten(5000));
        QTest::qWait(20); // lets the client read each part on its own
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_log, logged, 5000);
    QTest::qWait(50);
    QCOMPARE(m_log, logged);
    QCOMPARE(m_queue->isEmpty(), answered);
    QVERIFY(m_client->isActive()); // a reply never ends the connection by itself
}

void TestHostLink::aStatusMessageWaitsForItsAnswer_data()
{
    QTest::addColumn<QByteArray>("answer"); // the host's reply to the first message, empty: none
    QTest::addColumn<bool>("nextGoes");
    QTest::newRow("an acknowledgement lets the next line go") << reply("AC", 901) << true;
    QTest::newRow("a refusal ends the wait as well, nothing goes again") << reply("NC", 901) << true;
    QTest::newRow("no answer holds the queue") << QByteArray() << false;
    QTest::newRow("an answer for another ride holds the queue") << reply("AC", 902) << false;
}

void TestHostLink::aStatusMessageWaitsForItsAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, nextGoes);
    m_queue->append(statusLine(901));
    m_queue->append(statusLine(902));
    auto host = connectHost();
    QVERIFY(host);
    tick();
    QByteArray received;
    QVERIFY(receives(*host, received, envelope(statusLine(901).toLatin1())));
    // Written whole, but not answered: the message is still waiting, in the queue and in its file.
    QCOMPARE(m_queue->lines().size(), 2);
    QFile file(m_queue->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("\r\n"), 2);
    if (!answer.isEmpty()) {
        host->write(answer);
        QVERIFY(host->waitForBytesWritten(5000));
    }
    QTest::qWait(100);
    tick();
    tick();
    QCOMPARE(receives(*host, received, envelope(statusLine(902).toLatin1()), 500), nextGoes);
    QCOMPARE(m_queue->lines().first(), nextGoes ? statusLine(902) : statusLine(901));
    QCOMPARE(received.count("<ZORVAN>"), nextGoes ? 2 : 1); // nothing went twice
}

void TestHostLink::sendsAnUnansweredStatusMessageAgainOnANewConnection()
{
    using namespace std::chrono_literals;
    m_sender->setTimesForTest(300ms, 400ms, 800ms);
    const QByteArray wire = envelope(statusLine(901).toLatin1());
    const QString noAnswer
        = QStringLiteral("L:CO: GEEN ANTWOORD VAN BSA HOST OP BSRITNUMMER 901 BINNEN 1 SECONDEN, "
                         "VERBINDING GESLOTEN, BERICHT BLIJFT IN PAKKET UIT EN GAAT OPNIEUW 127.0.0.1");
    m_queue->append(statusLine(901));
    QSignalSpy disconnected(m_client.get(), &BSAClient::disconnected);
    QElapsedTimer clock;

    // Three attempts go unanswered; each ends its connection, and the pause before the next one grows.
    QList<qint64> attemptsAt;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<QTcpSocket> host;
        QDeadlineTimer deadline(5000);
        while (!host && !deadline.hasExpired()) {
            tick();
            QTest::qWait(10);
            if (m_host->hasPendingConnections())
                host.reset(m_host->nextPendingConnection());
        }
        QVERIFY(host);
        // The message goes at a tick after this, so the answer's time and the pause run from after this moment.
        if (attempt == 0)
            clock.start();
        attemptsAt << clock.elapsed();
        QByteArray received;
        deadline.setRemainingTime(5000);
        while (!received.contains(wire) && !deadline.hasExpired()) {
            tick();
            QTest::qWait(10);
            received += host->readAll();
        }
        QCOMPARE(received, wire);
        // The link closes it.
        QTRY_COMPARE_WITH_TIMEOUT(host->state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(m_queue->lines(), QStringList { statusLine(901) });
        QVERIFY(m_sender->unansweredSince().isValid());
    }
    QCOMPARE(m_log.count(noAnswer), 1); // said once, not at every attempt
    // Each new connection comes after the wait for the answer and the pause, the second pause twice the first (a
    // timer may fire a little early).
    QVERIFY2(attemptsAt[1] - attemptsAt[0] >= (300 + 400) * 9 / 10, qPrintable(QString::number(attemptsAt[1])));
    QVERIFY2(attemptsAt[2] - attemptsAt[1] >= (300 + 800) * 9 / 10, qPrintable(QString::number(attemptsAt[2])));

    // The host answers at last: the message leaves, and the link says the host takes its messages again.
    std::unique_ptr<QTcpSocket> host;
    QDeadlineTimer deadline(5000);
    QByteArray received;
    while (!received.contains(wire) && !deadline.hasExpired()) {
        tick();
        QTest::qWait(10);
        if (!host && m_host->hasPendingConnections())
            host.reset(m_host->nextPendingConnection());
        if (host)
            received += host->readAll();
    }
    QVERIFY(host);
    host->write(reply("AC", 901));
    QVERIFY(host->waitForBytesWritten(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_queue->isEmpty(), 5000);
    QCOMPARE(m_log.constLast(), QStringLiteral("L:CO: BSA HOST NEEMT PAKKET UIT WEER AAN 127.0.0.1"));
    QVERIFY(m_sender->unansweredSince().isNull());
}

void TestHostLink::saysOnceThatTheHostDropsEveryConnection()
{
    // A host that takes every connection and ends it at once.
    int accepted = 0;
    connect(m_host.get(), &QTcpServer::newConnection, this, [this, &accepted] {
        while (QTcpSocket *socket = m_host->nextPendingConnection()) {
            ++accepted;
            socket->abort();
            socket->deleteLater();
        }
    });
    m_queue->append(statusLine(901));
    QDeadlineTimer deadline(10000);
    while (accepted < 4 && !deadline.hasExpired()) {
        tick();
        QTest::qWait(30);
    }
    QVERIFY(accepted >= 4);
    QTest::qWait(50);
    QCOMPARE(m_log.count(QStringLiteral("L:CO: VERBINDING MET BSA HOST VERBROKEN, BERICHT BLIJFT IN PAKKET UIT")), 1);
    QCOMPARE(m_queue->lines(), QStringList { statusLine(901) });
}

void TestHostLink::closesAConnectionThatFloodsStrayReplies_data()
{
    QTest::addColumn<int>("replies");
    QTest::addColumn<bool>("closed");
    QTest::newRow("one short of the limit keeps the connection")
        << HostReplies::UnansweringRepliesPerConnection - 1 << false;
    QTest::newRow("the limit closes it") << HostReplies::UnansweringRepliesPerConnection << true;
    QTest::newRow("a flood closes it") << 20 * HostReplies::UnansweringRepliesPerConnection << true;
}

void TestHostLink::closesAConnectionThatFloodsStrayReplies()
{
    QFETCH(int, replies);
    QFETCH(bool, closed);
    QSignalSpy stray(m_replies.get(), &HostReplies::strayReply);
    m_queue->append(statusLine(12345));
    auto host = connectHost();
    QVERIFY(host);
    QByteArray flood;
    for (int i = 0; i < replies; ++i)
        flood += reply("AC", 500 + i);
    host->write(flood);
    QVERIFY(host->waitForBytesWritten(5000));
    const QString closing
        = QStringLiteral("L:CI: %1 ANTWOORDEN VAN BSA HOST ZONDER WACHTEND BERICHT, VERBINDING GESLOTEN")
              .arg(HostReplies::UnansweringRepliesPerConnection);
    if (closed) {
        QTRY_COMPARE_WITH_TIMEOUT(host->state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_log.count(closing), 1, 5000);
        // Such a host gets its next connection only after a pause, not at the next tick.
        tick();
        QTest::qWait(50);
        QVERIFY(!m_host->hasPendingConnections());
        QVERIFY(!m_client->isActive());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(stray.size(), replies, 5000);
        QTest::qWait(50);
        QVERIFY(m_client->isActive());
        QCOMPARE(m_log.count(closing), 0);
    }
    QCOMPARE(stray.size(), std::min(replies, HostReplies::UnansweringRepliesPerConnection));
    // One reply is logged in full, with the line that says the rest are only counted.
    QCOMPARE(m_log.count(QStringLiteral("L:CI STATUS: AC")), 1);
    QCOMPARE(m_queue->lines(), QStringList { statusLine(12345) });
}

QTEST_GUILESS_MAIN(TestHostLink)
#include "TestHostLink.moc"

#include <memory>
#include <vector>

#include <unistd.h>

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include "platform/BSAConnection.h"
#include "platform/BSAServer.h"
#include "tests/support/ForeignPeer.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/UnixOnly.h"

Q_DECLARE_METATYPE(BSAConnection *)

// The listening endpoint over real loopback TCP: envelopes per connection, start and stop, and the ways a
// connection ends.
class TestBSAServer final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void yieldsEveryEnvelopeInOrder_data();
    void yieldsEveryEnvelopeInOrder();
    void keepsTheBytesOfEachConnectionApart();
    void dropsAnOverlongUnfinishedEnvelopeAndGoesOn();
    void sendsAnAnswerOnTheSameConnection();
    void readsNothingWhileHeldAndLosesNothing_data();
    void readsNothingWhileHeldAndLosesNothing();

    void failsOnAPortThatIsInUse();
    void stopClosesEveryConnectionWithoutDisconnect();
    void peerCloseGivesDisconnectWithThePeerAddress();
    void aBrokenConnectionIsReportedAndDiscardedWithoutDisconnect();
    void waitsForDescriptorsOnceAndAcceptsAgain();
    void givesUpAnEnvelopeThatDoesNotEndInTime_data();
    void givesUpAnEnvelopeThatDoesNotEndInTime();
    void listensWithARoomyBacklog();
    void closesIdleConnectionsBeyondTheLimitPerAddress_data();
    void closesIdleConnectionsBeyondTheLimitPerAddress();
    void asksThePeerFilterBeforeAConnectionCounts();

private:
    // A raw BSA peer, connected and accepted by m_server.
    std::unique_ptr<QTcpSocket> connectPeer();

    std::unique_ptr<BSAServer> m_server;
};

void TestBSAServer::init()
{
    m_server = std::make_unique<BSAServer>();
    m_server->setPort(0);
    QString error;
    QVERIFY2(m_server->setActive(true, &error), qPrintable(error));
}

void TestBSAServer::cleanup()
{
    m_server.reset();
}

std::unique_ptr<QTcpSocket> TestBSAServer::connectPeer()
{
    return connectLoopbackPeer(*m_server);
}

void TestBSAServer::yieldsEveryEnvelopeInOrder_data()
{
    QTest::addColumn<QByteArrayList>("writes"); // one entry per write of the peer, with a pause between
    QTest::addColumn<QByteArrayList>("payloads");
    QTest::newRow("two envelopes in one write both arrive in order")
        << QByteArrayList { "<ZORVAN>41<EINDE><ZORVAN>42<EINDE>" } << QByteArrayList { "41", "42" };
    QTest::newRow("one envelope split over three writes arrives once")
        << QByteArrayList { "<ZORV", "AN>4142<EI", "NDE>" } << QByteArrayList { "4142" };
    QTest::newRow("noise and CR LF between envelopes are skipped") << QByteArrayList { "xx<ZORVAN>41<EINDE>\r\n",
        "garbage\r\n<ZORVAN>42<EINDE>\r\n" } << QByteArrayList { "41", "42" };
    QTest::newRow("an envelope split across the second of two writes completes")
        << QByteArrayList { "<ZORVAN>41<EINDE><ZORVAN>4", "2<EINDE>" } << QByteArrayList { "41", "42" };
}

void TestBSAServer::yieldsEveryEnvelopeInOrder()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QByteArrayList, payloads);
    QSignalSpy received(m_server.get(), &BSAServer::envelopeReceived);
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    for (const QByteArray &bytes : writes) {
        peer->write(bytes);
        QVERIFY(peer->waitForBytesWritten(5000));
        QTest::qWait(20); // give the server a read of its own for each write
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), payloads.size(), 5000);
    QByteArrayList taken;
    for (const QList<QVariant> &signal : received)
        taken << signal.at(1).toByteArray();
    QCOMPARE(taken, payloads);
    QCOMPARE(received.first().at(0).value<BSAConnection *>(), m_server->connections().value(0));
}

void TestBSAServer::keepsTheBytesOfEachConnectionApart()
{
    QSignalSpy received(m_server.get(), &BSAServer::envelopeReceived);
    std::unique_ptr<QTcpSocket> first = connectPeer();
    std::unique_ptr<QTcpSocket> second = connectPeer();
    QVERIFY(first && second);
    const QList<BSAConnection *> connections = m_server->connections();
    QCOMPARE(connections.size(), 2);

    // Each half envelope must stay with its own connection: no mixing of "41" and "42".
    const std::vector<std::pair<QTcpSocket *, QByteArray>> writes = {
        { first.get(), "<ZORVAN>4" },
        { second.get(), "<ZORVAN>4" },
        { first.get(), "1<EIN" },
        { second.get(), "2<EINDE>" },
        { first.get(), "DE>" },
    };
    for (const auto &[peer, bytes] : writes) {
        peer->write(bytes);
        QVERIFY(peer->waitForBytesWritten(5000));
        QTest::qWait(20);
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 5000);
    QCOMPARE(received.at(0).at(0).value<BSAConnection *>(), connections.at(1));
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("42"));
    QCOMPARE(received.at(1).at(0).value<BSAConnection *>(), connections.at(0));
    QCOMPARE(received.at(1).at(1).toByteArray(), QByteArray("41"));
}

void TestBSAServer::dropsAnOverlongUnfinishedEnvelopeAndGoesOn()
{
    QSignalSpy received(m_server.get(), &BSAServer::envelopeReceived);
    QSignalSpy dropped(m_server.get(), &BSAServer::bufferDropped);
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);

    peer->write("<ZORVAN>" + QByteArray(EnvelopeFramer::MaxBuffered + 4096, 'A'));
    QVERIFY(dropped.wait(5000));
    QCOMPARE(dropped.first().at(0).toString(), QStringLiteral("127.0.0.1"));

    peer->write("<ZORVAN>42<EINDE>");
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
    QCOMPARE(received.first().at(1).toByteArray(), QByteArray("42"));
    QCOMPARE(m_server->connections().size(), 1);
}

void TestBSAServer::sendsAnAnswerOnTheSameConnection()
{
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    BSAConnection *connection = m_server->connections().value(0);
    QVERIFY(connection);
    const QByteArray answer = "<ZORVAN>" + QByteArray(100000, 'B') + "<EINDE>";
    QCOMPARE(connection->send(answer), qint64(answer.size()));
    QByteArray arrived;
    QTRY_COMPARE_WITH_TIMEOUT((arrived += peer->readAll()).size(), answer.size(), 5000);
    QCOMPARE(arrived, answer);
}

void TestBSAServer::readsNothingWhileHeldAndLosesNothing_data()
{
    QTest::addColumn<bool>("byAnswers"); // held by unread answers, or by the one who stores the envelopes
    QTest::newRow("held by the intake") << false;
    QTest::newRow("held by answers the peer does not read") << true;
}

// A peer that sends more than can be handled is held back, not read into memory: what it sent while reading waited
// arrives whole and in order once reading goes on.
void TestBSAServer::readsNothingWhileHeldAndLosesNothing()
{
    QFETCH(bool, byAnswers);
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    BSAConnection *connection = m_server->connections().value(0);
    QVERIFY(connection);
    QSignalSpy received(m_server.get(), &BSAServer::envelopeReceived);
    constexpr qint64 AnswerBytes = 64 * 1024 * 1024;
    if (byAnswers) {
        // A peer that does not read: more answers than the system's buffers take, the rest waits in the connection.
        peer->setReadBufferSize(64 * 1024);
        QCOMPARE(connection->send(QByteArray(AnswerBytes, 'A')), AnswerBytes);
    } else {
        connection->holdReading(true);
    }

    // Far more than the connection reads at once, in many envelopes.
    constexpr int Envelopes = 4000;
    QByteArray sent;
    for (int i = 0; i < Envelopes; ++i)
        sent += "<ZORVAN>" + QByteArray::number(i).rightJustified(200, '0') + "<EINDE>";
    peer->write(sent);
    QTest::qWait(1000);
    QCOMPARE(received.count(), 0);

    if (byAnswers) {
        peer->setReadBufferSize(0); // the peer reads its answers at last
        qint64 read = 0;
        QTRY_COMPARE_WITH_TIMEOUT(read += peer->readAll().size(), AnswerBytes, 20000);
    } else {
        connection->holdReading(false);
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), Envelopes, 20000);
    for (int i = 0; i < Envelopes; ++i)
        QCOMPARE(received.at(i).at(1).toByteArray(), QByteArray::number(i).rightJustified(200, '0'));
}

void TestBSAServer::failsOnAPortThatIsInUse()
{
    BSAServer second;
    second.setPort(m_server->serverPort());
    QString error;
    QVERIFY(!second.setActive(true, &error));
    QVERIFY(!second.isActive());
    QVERIFY2(error.startsWith(QStringLiteral("Windows socket error: ")), qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral(" (10048), on API 'bind'")), qPrintable(error));
    QVERIFY(m_server->isActive());
}

void TestBSAServer::stopClosesEveryConnectionWithoutDisconnect()
{
    QSignalSpy disconnects(m_server.get(), &BSAServer::clientDisconnected);
    std::unique_ptr<QTcpSocket> first = connectPeer();
    std::unique_ptr<QTcpSocket> second = connectPeer();
    QVERIFY(first && second);
    const QPointer<BSAConnection> connection = m_server->connections().value(0);
    const quint16 port = m_server->serverPort();
    QSignalSpy firstClosed(first.get(), &QTcpSocket::disconnected);
    QSignalSpy secondClosed(second.get(), &QTcpSocket::disconnected);

    QVERIFY(m_server->setActive(false));
    QVERIFY(!m_server->isActive());
    QVERIFY(m_server->connections().isEmpty());
    QVERIFY(firstClosed.count() == 1 || firstClosed.wait(5000));
    QVERIFY(secondClosed.count() == 1 || secondClosed.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), 5000);
    QCOMPARE(disconnects.count(), 0);

    // The port is free again for the next start.
    m_server->setPort(port);
    QString error;
    QVERIFY2(m_server->setActive(true, &error), qPrintable(error));
    QCOMPARE(m_server->serverPort(), port);
}

void TestBSAServer::peerCloseGivesDisconnectWithThePeerAddress()
{
    QSignalSpy received(m_server.get(), &BSAServer::envelopeReceived);
    QSignalSpy errors(m_server.get(), &BSAServer::errorOccurred);
    QString addressInSignal;
    connect(m_server.get(), &BSAServer::clientDisconnected, this,
        [&](BSAConnection *connection) { addressInSignal = connection->peerAddress(); });
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    const QPointer<BSAConnection> connection = m_server->connections().value(0);
    QCOMPARE(connection->peerAddress(), QStringLiteral("127.0.0.1"));

    // The last envelope before the close still arrives, before the disconnect.
    peer->write("<ZORVAN>41<EINDE>");
    peer->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(addressInSignal, QStringLiteral("127.0.0.1"), 5000);
    QCOMPARE(received.count(), 1);
    QVERIFY(m_server->connections().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), 5000);
    QCOMPARE(errors.count(), 0);
    QVERIFY(m_server->isActive());
}

void TestBSAServer::aBrokenConnectionIsReportedAndDiscardedWithoutDisconnect()
{
    QSignalSpy disconnects(m_server.get(), &BSAServer::clientDisconnected);
    QSignalSpy errors(m_server.get(), &BSAServer::errorOccurred);
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    QSignalSpy peerClosed(peer.get(), &QTcpSocket::disconnected);
    const QPointer<BSAConnection> connection = m_server->connections().value(0);
    auto *socket = connection->findChild<QTcpSocket *>();
    QVERIFY(socket);

    // Qt reports a broken connection (a keep-alive time-out, say) with this notification.
    emit socket->errorOccurred(QAbstractSocket::NetworkError);
    QVERIFY(errors.count() == 1 || errors.wait(5000));
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Asynchronous socket error 10050"));
    QTRY_VERIFY_WITH_TIMEOUT(connection.isNull(), 5000);
    QVERIFY(m_server->connections().isEmpty());
    QVERIFY(peerClosed.count() == 1 || peerClosed.wait(5000));
    QCOMPARE(disconnects.count(), 0);
    QCOMPARE(errors.count(), 1);
}

void TestBSAServer::waitsForDescriptorsOnceAndAcceptsAgain()
{
    BSA_UNIX_ONLY("a limit on open descriptors");
    // A burst of connects first: Qt's own accepting would end it on "try again" and from then on never report a
    // lack of descriptors, retrying in a busy loop instead.
    std::vector<std::unique_ptr<QTcpSocket>> burst;
    for (int i = 0; i < 3; ++i) {
        burst.push_back(connectPeer());
        QVERIFY(burst.back());
    }
    QSignalSpy errors(m_server.get(), &BSAServer::errorOccurred);
    QSignalSpy lines(m_server.get(), &BSAServer::logLine);
    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);

    // No descriptor left: the peers wait in the system's queue.
    std::vector<std::unique_ptr<QTcpSocket>> waiting;
    for (int i = 0; i < 2; ++i) {
        waiting.push_back(std::make_unique<QTcpSocket>());
        waiting.back()->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        QVERIFY(waiting.back()->waitForConnected(5000));
    }
    rlimit saved {};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
    const int lowestFree = dup(0);
    QVERIFY(lowestFree >= 0);
    close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = rlim_t(lowestFree);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &exhausted) == 0);
    const bool failed = errors.wait(5000);
    QTest::qWait(2500); // the retries of this while are silent
    setrlimit(RLIMIT_NOFILE, &saved);
    QVERIFY(failed);
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(errors.count(), 1);
    const QString message = errors.first().at(0).toString();
    QVERIFY2(message.endsWith(QStringLiteral(" (10024), on API 'accept'")), qPrintable(message));
    QCOMPARE(lines.count(), 1);
    QCOMPARE(lines.first().at(0).toString(),
        QStringLiteral("SI: NIEUWE VERBINDINGEN WACHTEN TOT ER WEER BESTANDEN VRIJ ZIJN"));

    // Descriptors free again: both waiting peers are taken, and the operator hears that once.
    QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 2, 5000);
    QCOMPARE(lines.last().at(0).toString(), QStringLiteral("SI: WACHTENDE VERBINDINGEN ZIJN AANGENOMEN"));
    QCOMPARE(m_server->connections().size(), 5);
    QCOMPARE(errors.count(), 1);
}

void TestBSAServer::givesUpAnEnvelopeThatDoesNotEndInTime_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("closed");
    QTest::newRow("an envelope begun and never ended closes its connection") << QByteArray("<ZORVAN>4142") << true;
    QTest::newRow("an envelope begun after a complete one closes its connection")
        << QByteArray("<ZORVAN>41<EINDE><ZORVAN>42") << true;
    QTest::newRow("an idle connection after a complete envelope stays") << QByteArray("<ZORVAN>41<EINDE>") << false;
    QTest::newRow("a CR LF after the last envelope is no envelope begun")
        << QByteArray("<ZORVAN>41<EINDE>\r\n") << false;
    QTest::newRow("noise without a start tag is no envelope begun") << QByteArray("hallo") << false;
}

void TestBSAServer::givesUpAnEnvelopeThatDoesNotEndInTime()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, closed);
    constexpr std::chrono::milliseconds Timeout { 300 };
    m_server->setEnvelopeTimeout(Timeout);
    QSignalSpy lines(m_server.get(), &BSAServer::logLine);
    QSignalSpy disconnects(m_server.get(), &BSAServer::clientDisconnected);
    std::unique_ptr<QTcpSocket> peer = connectPeer();
    QVERIFY(peer);
    QSignalSpy peerClosed(peer.get(), &QTcpSocket::disconnected);
    peer->write(sent);
    QVERIFY(peer->waitForBytesWritten(5000));

    if (closed) {
        QVERIFY(peerClosed.wait(5000));
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines.first().at(0).toString(),
            QStringLiteral("SI: ONVOLLEDIG BERICHT VAN 127.0.0.1 NA 1 SECONDEN VERWORPEN, VERBINDING GESLOTEN"));
        QCOMPARE(disconnects.count(), 1); // the operator's list loses the entry
        QVERIFY(m_server->connections().isEmpty());
    } else {
        QTest::qWait(int(Timeout.count()) * 4);
        QCOMPARE(peerClosed.count(), 0);
        QCOMPARE(lines.count(), 0);
        QCOMPARE(m_server->connections().size(), 1);
    }
}

void TestBSAServer::listensWithARoomyBacklog()
{
    // Connects beyond the queue's length are dropped by the system and tried again by the peer only a second later.
    QProcess ss;
    ss.start(QStringLiteral("ss"), { "-Hltn", QStringLiteral("sport = :%1").arg(m_server->serverPort()) });
    if (!ss.waitForFinished(5000) || ss.exitCode() != 0)
        QSKIP("the ss tool of iproute2 is needed to read the listen queue's length");
    // State, Recv-Q, Send-Q (the queue's length for a listening socket), local and peer address.
    const QList<QByteArray> columns = ss.readAllStandardOutput().simplified().split(' ');
    QVERIFY2(columns.size() >= 3, columns.join(' ').constData());
    QFile somaxconn(QStringLiteral("/proc/sys/net/core/somaxconn"));
    const int systemMost = somaxconn.open(QIODevice::ReadOnly) ? somaxconn.readAll().trimmed().toInt() : 4096;
    QCOMPARE(columns.at(2).toInt(), std::min(BSAServer::ListenBacklog, systemMost));
}

void TestBSAServer::closesIdleConnectionsBeyondTheLimitPerAddress_data()
{
    QTest::addColumn<int>("fromFirst"); // connections from 127.0.0.1, opened first
    QTest::addColumn<int>("fromSecond"); // then from 127.0.0.2
    QTest::addColumn<QByteArray>("sent"); // by each, once connected
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<int>("closed"); // the first ones from 127.0.0.1
    constexpr int Limit = BSAServer::MaxIdlePerAddress;
    QTest::newRow("idle connections beyond the limit are closed, the idle longest first")
        << Limit + 8 << 0 << QByteArray() << 200 << 8;
    QTest::newRow("an envelope begun and not ended leaves a connection idle")
        << Limit + 8 << 0 << QByteArray("<ZORVAN>41") << 200 << 8;
    QTest::newRow("noise without an envelope leaves a connection idle")
        << Limit + 3 << 0 << QByteArray("hallo\r\n") << 200 << 3;
    QTest::newRow("a connection that sent a whole envelope is not idle")
        << Limit + 8 << 0 << QByteArray("<ZORVAN>41<EINDE>") << 200 << 0;
    QTest::newRow("each address has a limit of its own") << Limit << Limit << QByteArray() << 200 << 0;
    QTest::newRow("connections younger than the grace are spared") << Limit + 8 << 0 << QByteArray() << 60000 << 0;
}

void TestBSAServer::closesIdleConnectionsBeyondTheLimitPerAddress()
{
    QFETCH(int, fromFirst);
    QFETCH(int, fromSecond);
    QFETCH(QByteArray, sent);
    QFETCH(int, graceMs);
    QFETCH(int, closed);
    m_server->setIdleGrace(std::chrono::milliseconds(graceMs));
    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);
    QSignalSpy disconnects(m_server.get(), &BSAServer::clientDisconnected);
    QSignalSpy lines(m_server.get(), &BSAServer::logLine);
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < fromFirst + fromSecond; ++i) {
        peers.push_back(connectFrom(
            i < fromFirst ? QHostAddress(QHostAddress::LocalHost) : ForeignPeerAddress, m_server->serverPort()));
        QVERIFY(peers.back());
        if (!sent.isEmpty())
            peers.back()->write(sent);
    }
    QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), fromFirst + fromSecond, 5000);
    if (closed > 0)
        QTRY_COMPARE_WITH_TIMEOUT(disconnects.count(), closed, 5000);
    QTest::qWait(1500); // the next counts of the idle connections close nothing more
    QCOMPARE(disconnects.count(), closed);
    QCOMPARE(m_server->connections().size(), fromFirst + fromSecond - closed);
    for (int i = 0; i < int(peers.size()); ++i) {
        const bool isClosed = peers[size_t(i)]->state() == QAbstractSocket::UnconnectedState;
        QVERIFY2(isClosed == (i < closed), qPrintable(QString::number(i)));
    }
    if (closed > 0) {
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines.first().at(0).toString(),
            QStringLiteral("SI: %1 VERBINDINGEN VAN 127.0.0.1 GESLOTEN: MEER DAN 32 ZONDER VOLLEDIG BERICHT")
                .arg(closed));
    } else {
        QCOMPARE(lines.count(), 0);
    }
}

void TestBSAServer::asksThePeerFilterBeforeAConnectionCounts()
{
    BSA_SEES_A_REFUSED_CLOSE();
    QList<QHostAddress> asked;
    m_server->setPeerFilter([&asked](const QHostAddress &peer) {
        asked << peer;
        return peer == QHostAddress(QHostAddress::LocalHost);
    });
    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);
    QSignalSpy disconnects(m_server.get(), &BSAServer::clientDisconnected);
    QSignalSpy envelopes(m_server.get(), &BSAServer::envelopeReceived);
    std::unique_ptr<QTcpSocket> foreign = connectFrom(ForeignPeerAddress, m_server->serverPort());
    QVERIFY(foreign);
    foreign->write("<ZORVAN>41<EINDE>");
    QTRY_COMPARE_WITH_TIMEOUT(foreign->state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(m_server->connections().isEmpty());

    std::unique_ptr<QTcpSocket> local = connectLoopbackPeer(*m_server);
    QVERIFY(local);
    QCOMPARE(asked, (QList<QHostAddress> { ForeignPeerAddress, QHostAddress(QHostAddress::LocalHost) }));
    QCOMPARE(m_server->connections().size(), 1);
    QCOMPARE(envelopes.count(), 0);
    QCOMPARE(disconnects.count(), 0);
}

QTEST_GUILESS_MAIN(TestBSAServer)
#include "TestBSAServer.moc"

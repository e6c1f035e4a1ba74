#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <QHostAddress>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include "platform/BSAConnection.h"
#include "platform/BSAServer.h"
#include "tests/support/LoopbackPeer.h"

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

    void failsOnAPortThatIsInUse();
    void stopClosesEveryConnectionWithoutDisconnect();
    void peerCloseGivesDisconnectWithThePeerAddress();
    void aBrokenConnectionIsReportedAndDiscardedWithoutDisconnect();
    void resumesAcceptingAfterAFailedAccept();

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

void TestBSAServer::resumesAcceptingAfterAFailedAccept()
{
    // With no file descriptor left the accept fails; the server must report it and accept again later.
    QSignalSpy errors(m_server.get(), &BSAServer::errorOccurred);
    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(peer.waitForConnected(5000));

    rlimit saved {};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
    const int lowestFree = dup(0);
    QVERIFY(lowestFree >= 0);
    close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = rlim_t(lowestFree);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &exhausted) == 0);
    const bool failed = errors.wait(5000);
    setrlimit(RLIMIT_NOFILE, &saved);
    QVERIFY(failed);
    QCOMPARE(accepted.count(), 0);
    const QString message = errors.first().at(0).toString();
    QVERIFY2(message.endsWith(QStringLiteral(" (10055), on API 'accept'")), qPrintable(message));

    QVERIFY(accepted.wait(5000));
    QCOMPARE(m_server->connections().size(), 1);
}

QTEST_GUILESS_MAIN(TestBSAServer)
#include "TestBSAServer.moc"

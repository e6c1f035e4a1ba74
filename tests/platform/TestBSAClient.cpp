#include <cerrno>
#include <cstring>
#include <memory>

#include <QHostAddress>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "platform/BSAClient.h"
#include "platform/SocketError.h"
#include "tests/support/FreePort.h"

// The connection to the BSA host over real loopback TCP, and the Winsock form of socket failures.
class TestBSAClient final : public QObject
{
    Q_OBJECT
private slots:
    void connectsSendsAndReceives_data();
    void connectsSendsAndReceives();
    void reportsARefusedConnect();
    void reportsAHostThatCannotBeFound();
    void sendFailsWhileNotConnected();
    void activatingAgainWhileConnectingUsesTheNewPort();
    void activatingAgainWhileConnectingToTheSameHostKeepsTheAttempt();
    void takesAFloodInBoundedTurns();
    void closeEndsTheConnectionAtOnce();

    void mapsSocketErrorsToWinsockCodes_data();
    void mapsSocketErrorsToWinsockCodes();
    void buildsBothMessageForms();
};

void TestBSAClient::connectsSendsAndReceives_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("a dotted address connects") << QStringLiteral("127.0.0.1");
    QTest::newRow("a host name is resolved and connects") << QStringLiteral("localhost");
}

void TestBSAClient::connectsSendsAndReceives()
{
    QFETCH(QString, host);
    QTcpServer bsaHost;
    QVERIFY(bsaHost.listen(QHostAddress::LocalHost, 0));
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    QSignalSpy disconnected(&client, &BSAClient::disconnected);
    QSignalSpy received(&client, &BSAClient::envelopeReceived);
    QSignalSpy errors(&client, &BSAClient::errorOccurred);
    QSignalSpy allWritten(&client, &BSAClient::allWritten);
    client.setHost(host);
    client.setPort(bsaHost.serverPort());
    client.activate();
    QVERIFY(!client.isActive()); // connecting is not connected
    QVERIFY(connected.wait(5000));
    QVERIFY(client.isActive());
    QTRY_VERIFY_WITH_TIMEOUT(bsaHost.hasPendingConnections(), 5000);
    std::unique_ptr<QTcpSocket> peer(bsaHost.nextPendingConnection());

    const QByteArray status = "<ZORVAN>4254<EINDE>";
    QCOMPARE(client.send(status), qint64(status.size()));
    QTRY_VERIFY_WITH_TIMEOUT(allWritten.count() > 0, 5000); // a few bytes: the system takes them at once
    QCOMPARE(client.bytesToWrite(), qint64(0));
    QByteArray arrived;
    QTRY_COMPARE_WITH_TIMEOUT((arrived += peer->readAll()), status, 5000);

    // A reply split over two writes comes out once, whole.
    peer->write("<ZORVAN>41");
    QVERIFY(peer->waitForBytesWritten(5000));
    QTest::qWait(20);
    peer->write("43<EINDE>");
    QVERIFY(received.wait(5000));
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.first().at(0).toByteArray(), QByteArray("4143"));

    // The host ending the connection is a disconnect, not an error.
    peer->disconnectFromHost();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(!client.isActive());
    QCOMPARE(errors.count(), 0);
}

void TestBSAClient::reportsARefusedConnect()
{
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    QSignalSpy errors(&client, &BSAClient::errorOccurred);
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(freeLoopbackPort());
    client.activate();
    QVERIFY(errors.count() == 1 || errors.wait(5000));
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Asynchronous socket error 10061"));
    QVERIFY(!client.isActive());
    QCOMPARE(connected.count(), 0);
}

void TestBSAClient::reportsAHostThatCannotBeFound()
{
    // An operator who clears the host address gets a failed lookup, not a connect to some default.
    BSAClient client;
    QSignalSpy errors(&client, &BSAClient::lookupFailed);
    QSignalSpy otherErrors(&client, &BSAClient::errorOccurred);
    client.setHost(QString());
    client.setPort(freeLoopbackPort());
    client.activate();
    QVERIFY(errors.count() == 1 || errors.wait(5000));
    const QString message = errors.first().at(0).toString();
    QVERIFY2(message.startsWith(QStringLiteral("Windows socket error: ")), qPrintable(message));
    QVERIFY2(message.endsWith(QStringLiteral(" (11001), on API 'gethostbyname'")), qPrintable(message));
    QVERIFY(!client.isActive());
    QCOMPARE(otherErrors.count(), 0);
}

void TestBSAClient::sendFailsWhileNotConnected()
{
    BSAClient client;
    QString error;
    QCOMPARE(client.send("<ZORVAN>41<EINDE>", &error), qint64(-1));
    QVERIFY2(error.endsWith(QStringLiteral(" (10057), on API 'send'")), qPrintable(error));
}

void TestBSAClient::activatingAgainWhileConnectingUsesTheNewPort()
{
    QTcpServer oldHost;
    QTcpServer newHost;
    QVERIFY(oldHost.listen(QHostAddress::LocalHost, 0));
    QVERIFY(newHost.listen(QHostAddress::LocalHost, 0));
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    QSignalSpy errors(&client, &BSAClient::errorOccurred);
    client.setHost(QStringLiteral("localhost")); // a name, so the first attempt is still looking it up
    client.setPort(oldHost.serverPort());
    client.activate();
    client.setPort(newHost.serverPort());
    client.activate();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(newHost.hasPendingConnections(), 5000);
    std::unique_ptr<QTcpSocket> peer(newHost.nextPendingConnection());
    QTest::qWait(100); // a stray first attempt would show up now
    QCOMPARE(connected.count(), 1);
    QCOMPARE(errors.count(), 0);
    // The replaced attempt never reached the old host, or is closed there again.
    if (QPointer<QTcpSocket> stray = oldHost.nextPendingConnection())
        QTRY_COMPARE_WITH_TIMEOUT(stray->state(), QAbstractSocket::UnconnectedState, 5000);
}

void TestBSAClient::activatingAgainWhileConnectingToTheSameHostKeepsTheAttempt()
{
    // The one-second tick activates the client again and again while a slow lookup or connect is under way.
    QTcpServer bsaHost;
    QVERIFY(bsaHost.listen(QHostAddress::LocalHost, 0));
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    QSignalSpy errors(&client, &BSAClient::errorOccurred);
    client.setHost(QStringLiteral("localhost"));
    client.setPort(bsaHost.serverPort());
    client.activate();
    client.activate();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(bsaHost.hasPendingConnections(), 5000);
    std::unique_ptr<QTcpSocket> peer(bsaHost.nextPendingConnection());
    QTest::qWait(100); // a second attempt would show up now
    QCOMPARE(connected.count(), 1);
    QCOMPARE(errors.count(), 0);
    QVERIFY(!bsaHost.hasPendingConnections());
    client.activate(); // connected: nothing changes
    QVERIFY(client.isActive());
    QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
}

void TestBSAClient::takesAFloodInBoundedTurns()
{
    QTcpServer bsaHost;
    QVERIFY(bsaHost.listen(QHostAddress::LocalHost, 0));
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(bsaHost.serverPort());
    client.activate();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(bsaHost.hasPendingConnections(), 5000);
    std::unique_ptr<QTcpSocket> peer(bsaHost.nextPendingConnection());

    // Many small envelopes at once, more than one turn may take, each with its number.
    constexpr int Envelopes = 20 * BSAClient::EnvelopesPerTurn;
    QByteArray flood;
    for (int i = 0; i < Envelopes; ++i)
        flood += "<ZORVAN>" + QByteArray::number(i).rightJustified(6, '0') + "<EINDE>";

    // At the first envelope of a turn a call is queued that runs at the next turn: what came before it came in one
    // turn.
    QList<int> turns;
    int received = 0;
    bool ordered = true;
    connect(&client, &BSAClient::envelopeReceived, this, [&](const QByteArray &payload) {
        ordered = ordered && payload.toInt() == received;
        if (turns.isEmpty() || turns.constLast() >= 0) {
            turns << -1;
            QMetaObject::invokeMethod(
                this, [&turns, &received] { turns.last() = received; }, Qt::QueuedConnection);
        }
        ++received;
    });
    peer->write(flood); // one write: it arrives at once
    QVERIFY(peer->waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(received, Envelopes, 5000);
    QVERIFY(ordered);
    int before = 0;
    for (int upTo : std::as_const(turns)) {
        QVERIFY2(upTo - before <= BSAClient::EnvelopesPerTurn, qPrintable(QString::number(upTo - before)));
        before = upTo;
    }
    QVERIFY(client.isActive());
}

void TestBSAClient::closeEndsTheConnectionAtOnce()
{
    QTcpServer bsaHost;
    QVERIFY(bsaHost.listen(QHostAddress::LocalHost, 0));
    BSAClient client;
    QSignalSpy connected(&client, &BSAClient::connected);
    QSignalSpy disconnected(&client, &BSAClient::disconnected);
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(bsaHost.serverPort());
    client.activate();
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(bsaHost.hasPendingConnections(), 5000);
    std::unique_ptr<QTcpSocket> peer(bsaHost.nextPendingConnection());
    client.close();
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!client.isActive());
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 5000);
}

void TestBSAClient::mapsSocketErrorsToWinsockCodes_data()
{
    const auto systemText = [](int errnoValue) { return QString::fromLocal8Bit(std::strerror(errnoValue)); };
    QTest::addColumn<QAbstractSocket::SocketError>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::newRow("a refused connect is 10061") << QAbstractSocket::ConnectionRefusedError << QString() << 10061;
    QTest::newRow("the peer closing is an aborted connection, 10053")
        << QAbstractSocket::RemoteHostClosedError << QStringLiteral("The remote host closed the connection") << 10053;
    QTest::newRow("a reset connection is 10054") << QAbstractSocket::NetworkError << systemText(ECONNRESET) << 10054;
    QTest::newRow("an aborted connection is 10053")
        << QAbstractSocket::NetworkError << systemText(ECONNABORTED) << 10053;
    QTest::newRow("a connect that timed out is 10060")
        << QAbstractSocket::NetworkError << QStringLiteral("Connection timed out") << 10060;
    QTest::newRow("an unreachable network is 10051")
        << QAbstractSocket::NetworkError << QStringLiteral("Network unreachable") << 10051;
    QTest::newRow("another network error is 10050")
        << QAbstractSocket::NetworkError << QStringLiteral("Network error") << 10050;
    QTest::newRow("an unknown host is 11001") << QAbstractSocket::HostNotFoundError << QString() << 11001;
    QTest::newRow("a port in use is 10048") << QAbstractSocket::AddressInUseError << QString() << 10048;
    QTest::newRow("an address not on this machine is 10049")
        << QAbstractSocket::SocketAddressNotAvailableError << QString() << 10049;
    QTest::newRow("a denied port is 10013") << QAbstractSocket::SocketAccessError << QString() << 10013;
    QTest::newRow("no descriptors left is 10055") << QAbstractSocket::SocketResourceError << QString() << 10055;
    QTest::newRow("an operation timed out is 10060") << QAbstractSocket::SocketTimeoutError << QString() << 10060;
    QTest::newRow("an unsupported operation is 10045")
        << QAbstractSocket::UnsupportedSocketOperationError << QString() << 10045;
    QTest::newRow("anything else keeps a Winsock code") << QAbstractSocket::UnknownSocketError << QString() << 10004;
}

void TestBSAClient::mapsSocketErrorsToWinsockCodes()
{
    QFETCH(QAbstractSocket::SocketError, error);
    QFETCH(QString, text);
    QFETCH(int, code);
    if (!text.isEmpty() && text == QString::fromLocal8Bit(std::strerror(ECONNRESET))
        && text == QString::fromLocal8Bit(std::strerror(ECONNABORTED)))
        QSKIP("this C library has one text for every socket error (Windows): Qt's texts name the cause there");
    QCOMPARE(SocketError::winsockCode(error, text), code);
}

void TestBSAClient::buildsBothMessageForms()
{
    QCOMPARE(SocketError::callFailed(
                 QAbstractSocket::AddressInUseError, QStringLiteral("Address in use %1"), QStringLiteral("bind")),
        QStringLiteral("Windows socket error: Address in use %1 (10048), on API 'bind'"));
    QCOMPARE(SocketError::asyncFailed(QAbstractSocket::NetworkError, QStringLiteral("Connection timed out")),
        QStringLiteral("Asynchronous socket error 10060"));
    const QString reset = QString::fromLocal8Bit(std::strerror(ECONNRESET));
    if (reset != QString::fromLocal8Bit(std::strerror(ECONNABORTED))) // Windows's C library has one text for both
        QCOMPARE(SocketError::asyncFailed(QAbstractSocket::NetworkError, reset),
            QStringLiteral("Asynchronous socket error 10054"));
}

QTEST_GUILESS_MAIN(TestBSAClient)
#include "TestBSAClient.moc"

#include <memory>
#include <utility>
#include <vector>

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "intake/ServerLifecycle.h"
#include "platform/BSAServer.h"
#include "settings/Settings.h"
#include "tests/support/ForeignPeer.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/UnixOnly.h"

// Starting and stopping the BSA endpoint and the list of connected peers, over real loopback TCP.
class TestServerLifecycle final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startAndStopLogTheirLines();
    void refusesAPortThatIsNoPortNumber_data();
    void refusesAPortThatIsNoPortNumber();
    void logsAPortInUseAndRetriesEverySecondWhenAutomatic();
    void startsAutomaticallyOnlyWhenAskedTo();
    void keepsTheConnectionList();
    void stopKeepsTheListAndAReconnectMarksTheOldEntry();
    void letsInOnlyThePeersTheListAllows_data();
    void letsInOnlyThePeersTheListAllows();
    void readsTheListAtEveryAcceptAndSaysWhenItOpensOrClosesThePort();

private:
    std::unique_ptr<QTcpSocket> connectPeer();
    QStringList logged() const;

    Settings m_settings;
    std::unique_ptr<BSAServer> m_server;
    std::unique_ptr<ServerLifecycle> m_lifecycle;
    std::unique_ptr<QSignalSpy> m_log;
    const QDateTime m_now { QDate(2025, 12, 9), QTime(14, 3, 7) };
};

void TestServerLifecycle::init()
{
    m_settings = Settings();
    m_settings.BSAServerPoort = QString::number(freeLoopbackPort());
    m_settings.BSAToegestaneAdressen = QStringLiteral("127.0.0.0/8"); // every peer here, without the warning
    m_server = std::make_unique<BSAServer>();
    m_lifecycle = std::make_unique<ServerLifecycle>(*m_server, m_settings);
    m_log = std::make_unique<QSignalSpy>(m_lifecycle.get(), &ServerLifecycle::logLine);
}

void TestServerLifecycle::cleanup()
{
    m_log.reset();
    m_lifecycle.reset();
    m_server.reset();
}

std::unique_ptr<QTcpSocket> TestServerLifecycle::connectPeer()
{
    return connectLoopbackPeer(*m_server);
}

QStringList TestServerLifecycle::logged() const
{
    QStringList lines;
    for (const QList<QVariant> &signal : *m_log)
        lines << signal.at(0).toString();
    return lines;
}

void TestServerLifecycle::startAndStopLogTheirLines()
{
    const QString host = BSAServer::localHostName();
    const QString port = m_settings.BSAServerPoort;
    m_lifecycle->toggle(m_now);
    QVERIFY(m_server->isActive());
    QCOMPARE(m_server->serverPort(), port.toUShort());

    // An edit while listening shows in the stop line but takes effect at the next start.
    m_settings.BSAServerPoort = QStringLiteral("1");
    m_lifecycle->toggle(m_now.addSecs(60));
    QVERIFY(!m_server->isActive());

    QCOMPARE(logged(),
        QStringList(
            { "09-12-2025 14:03:07 - BSA Callcenter Server werd gestart op adres " + host + " via poort " + port,
                "09-12-2025 14:04:07 - BSA Callcenter Server werd gestopt op adres " + host + " via poort 1" }));
}

void TestServerLifecycle::refusesAPortThatIsNoPortNumber_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("letters") << "abc";
    QTest::newRow("digits followed by letters") << "12001x";
    QTest::newRow("port 0, where BSA could never find the server") << "0";
    QTest::newRow("a port above 65535") << "70000";
    QTest::newRow("an empty text") << "";
}

void TestServerLifecycle::refusesAPortThatIsNoPortNumber()
{
    QFETCH(QString, port);
    m_settings.BSAServerPoort = port;
    QString reason;
    QVERIFY(!m_lifecycle->toggle(m_now, &reason));
    QVERIFY(!m_server->isActive());
    QCOMPARE(logged(), QStringList { "'" + port + "' is geen geldig poortnummer" });
    QCOMPARE(reason, logged().constFirst()); // the caller hears what the log says
}

void TestServerLifecycle::logsAPortInUseAndRetriesEverySecondWhenAutomatic()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, 0));
    m_settings.BSAServerPoort = QString::number(other.serverPort());
    m_settings.BSAAuto = true;

    m_lifecycle->startAutomatically(m_now);
    m_lifecycle->startAutomatically(m_now.addSecs(1));
    QVERIFY(!m_server->isActive());
    const QStringList lines = logged();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(!lines.at(0).isEmpty() && !lines.at(0).contains(QLatin1String("werd gestart")), qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), lines.at(0));
    // The operator's start fails alike, and its caller hears the reason the log holds.
    QString reason;
    QVERIFY(!m_lifecycle->toggle(m_now.addSecs(1), &reason));
    QCOMPARE(reason, lines.at(0));
    QCOMPARE(logged().constLast(), lines.at(0));

    other.close();
    m_lifecycle->startAutomatically(m_now.addSecs(2));
    QVERIFY(m_server->isActive());
    QVERIFY(logged().constLast().contains(QLatin1String("werd gestart")));
}

void TestServerLifecycle::startsAutomaticallyOnlyWhenAskedTo()
{
    m_lifecycle->startAutomatically(m_now);
    QVERIFY(!m_server->isActive());
    QVERIFY(logged().isEmpty());

    m_settings.BSAAuto = true;
    m_lifecycle->startAutomatically(m_now);
    QVERIFY(m_server->isActive());
    // Listening already: a tick changes nothing.
    m_lifecycle->startAutomatically(m_now);
    QCOMPARE(logged().size(), 1);

    // The operator's stop is undone at the next tick.
    m_lifecycle->toggle(m_now);
    QVERIFY(!m_server->isActive());
    m_lifecycle->startAutomatically(m_now);
    QVERIFY(m_server->isActive());
}

void TestServerLifecycle::keepsTheConnectionList()
{
    QSignalSpy changes(m_lifecycle.get(), &ServerLifecycle::stChanged);
    m_lifecycle->toggle(m_now);
    QVERIFY(m_server->isActive());

    auto first = connectPeer();
    QVERIFY(first);
    QCOMPARE(m_lifecycle->ST(), QStringList { "127.0.0.1" });
    auto second = connectPeer();
    QVERIFY(second);
    QCOMPARE(m_lifecycle->ST(), QStringList({ "DISCONNECTED_UNIT", "127.0.0.1" }));

    QSignalSpy gone(m_server.get(), &BSAServer::clientDisconnected);
    second->disconnectFromHost();
    QVERIFY(gone.wait(5000));
    QCOMPARE(m_lifecycle->ST(), QStringList { "DISCONNECTED_UNIT" });
    QCOMPARE(changes.size(), 3);
    QCOMPARE(changes.constLast().at(0).toStringList(), QStringList { "DISCONNECTED_UNIT" });

    QCOMPARE(logged().mid(1),
        QStringList({ "Verbinding met 127.0.0.1", "Verbinding met 127.0.0.1", "Verbinding verbroken 127.0.0.1" }));
}

void TestServerLifecycle::stopKeepsTheListAndAReconnectMarksTheOldEntry()
{
    m_lifecycle->toggle(m_now);
    auto first = connectPeer();
    QVERIFY(first);
    m_lifecycle->toggle(m_now);
    QVERIFY(!m_server->isActive());
    QCOMPARE(m_lifecycle->ST(), QStringList { "127.0.0.1" });

    // The port may have been taken meanwhile by someone else: start on a fresh one.
    m_settings.BSAServerPoort = QString::number(freeLoopbackPort());
    m_lifecycle->toggle(m_now);
    QVERIFY(m_server->isActive());
    auto again = connectPeer();
    QVERIFY(again);
    QCOMPARE(m_lifecycle->ST(), QStringList({ "DISCONNECTED_UNIT", "127.0.0.1" }));
}

void TestServerLifecycle::letsInOnlyThePeersTheListAllows_data()
{
    QTest::addColumn<QString>("allowed");
    QTest::addColumn<QHostAddress>("from");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<QString>("startWarning"); // logged after the start line
    const QHostAddress local(QHostAddress::LocalHost);
    QTest::newRow("an empty list lets a foreign peer in and the start says so")
        << "" << ForeignPeerAddress << true
        << "SI: WAARSCHUWING: BSAToegestaneAdressen IS LEEG, ELK ADRES MAG VERBINDEN";
    QTest::newRow("a listed address is let in") << "127.0.0.1" << local << true << "";
    QTest::newRow("an address not listed is closed at once") << "127.0.0.1" << ForeignPeerAddress << false << "";
    QTest::newRow("a listed network lets its members in")
        << "192.0.2.0/24, 127.0.0.0/30" << ForeignPeerAddress << true << "";
    QTest::newRow("an entry that cannot be read keeps out even a listed address")
        << "127.0.0.1, 127.0.0.x" << local << false
        << "SI: BSAToegestaneAdressen ONLEESBAAR: '127.0.0.x' IS GEEN IPV4-ADRES OF -NETWERK, "
           "ALLE VERBINDINGEN WORDEN GEWEIGERD";
}

void TestServerLifecycle::letsInOnlyThePeersTheListAllows()
{
    QFETCH(QString, allowed);
    QFETCH(QHostAddress, from);
    QFETCH(bool, admitted);
    QFETCH(QString, startWarning);
    if (!admitted)
        BSA_SEES_A_REFUSED_CLOSE();
    m_settings.BSAToegestaneAdressen = allowed;
    m_lifecycle->toggle(m_now);
    QVERIFY(m_server->isActive());
    QStringList expected { logged().value(0) };
    QVERIFY(expected.first().contains(QStringLiteral("werd gestart")));
    if (!startWarning.isEmpty())
        expected << startWarning;
    QCOMPARE(logged(), expected);

    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);
    const QString address = from.toString();
    if (admitted) {
        std::unique_ptr<QTcpSocket> peer = connectFrom(from, m_server->serverPort());
        QVERIFY(peer);
        QVERIFY(accepted.wait(5000));
        QCOMPARE(m_lifecycle->ST(), QStringList { address });
        QCOMPARE(logged().mid(expected.size()), QStringList { "Verbinding met " + address });
        return;
    }
    // Two tries within the minute: both are closed at once, neither is listed, the operator hears it once.
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<QTcpSocket> peer = connectFrom(from, m_server->serverPort());
        QVERIFY(peer);
        peer->write("<ZORVAN>41<EINDE>");
        QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 5000);
    }
    QCOMPARE(accepted.count(), 0);
    QVERIFY(m_server->connections().isEmpty());
    QVERIFY(m_lifecycle->ST().isEmpty());
    QCOMPARE(logged().mid(expected.size()),
        QStringList { "SI: VERBINDING VAN " + address + " GEWEIGERD: NIET IN BSAToegestaneAdressen" });
}

void TestServerLifecycle::readsTheListAtEveryAcceptAndSaysWhenItOpensOrClosesThePort()
{
    m_settings.BSAToegestaneAdressen = QStringLiteral("127.0.0.1");
    m_lifecycle->toggle(m_now);
    QCOMPARE(m_log->count(), 1); // the start line: a readable list needs no word
    QSignalSpy accepted(m_server.get(), &BSAServer::clientConnected);
    // Whether a connect from the foreign address gets in, and what the log gained meanwhile. The peers stay
    // connected, so that no disconnect mixes into the next try's lines.
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    const auto tryForeign = [&] {
        const qsizetype before = m_log->count();
        const qsizetype acceptedBefore = accepted.count();
        peers.push_back(connectFrom(ForeignPeerAddress, m_server->serverPort()));
        QTcpSocket *peer = peers.back().get();
        if (!peer)
            return std::make_pair(false, QStringList { "no connect" });
        QDeadlineTimer deadline(5000);
        while (accepted.count() == acceptedBefore && peer->state() == QAbstractSocket::ConnectedState
            && !deadline.hasExpired())
            QTest::qWait(10);
        return std::make_pair(accepted.count() > acceptedBefore, logged().mid(before));
    };
    const QString refused = QStringLiteral("SI: VERBINDING VAN 127.0.0.2 GEWEIGERD: NIET IN BSAToegestaneAdressen");
    const QString unreadable = QStringLiteral("SI: BSAToegestaneAdressen ONLEESBAAR: '127.0.0.2/40' IS GEEN "
                                              "IPV4-ADRES OF -NETWERK, ALLE VERBINDINGEN WORDEN GEWEIGERD");
    const QString everyone = QStringLiteral("SI: WAARSCHUWING: BSAToegestaneAdressen IS LEEG, ELK ADRES MAG VERBINDEN");

    QCOMPARE(tryForeign(), std::make_pair(false, QStringList { refused }));
    // A mistyped edit: said at the next accept, once, and the port stays shut.
    m_settings.BSAToegestaneAdressen = QStringLiteral("127.0.0.1, 127.0.0.2/40");
    QCOMPARE(tryForeign(), std::make_pair(false, QStringList { unreadable }));
    QCOMPARE(tryForeign(), std::make_pair(false, QStringList()));
    // Mended: the address is let in without a word.
    m_settings.BSAToegestaneAdressen = QStringLiteral("127.0.0.1, 127.0.0.2/32");
    QCOMPARE(tryForeign(), std::make_pair(true, QStringList { "Verbinding met 127.0.0.2" }));
    // Emptied: everyone is let in, and the operator hears it.
    m_settings.BSAToegestaneAdressen = QString();
    QCOMPARE(tryForeign(), std::make_pair(true, QStringList { everyone, "Verbinding met 127.0.0.2" }));
    // A restart says it again.
    m_lifecycle->toggle(m_now);
    const qsizetype before = m_log->count();
    m_lifecycle->toggle(m_now);
    QCOMPARE(logged().mid(before).value(1), everyone);
}

QTEST_GUILESS_MAIN(TestServerLifecycle)
#include "TestServerLifecycle.moc"

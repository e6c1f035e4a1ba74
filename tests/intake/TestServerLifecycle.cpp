#include <memory>

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "intake/ServerLifecycle.h"
#include "platform/BSAServer.h"
#include "settings/Settings.h"
#include "tests/support/FreePort.h"
#include "tests/support/LoopbackPeer.h"

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
    m_lifecycle->BtnExecuteClick(m_now);
    QVERIFY(m_server->isActive());
    QCOMPARE(m_server->serverPort(), port.toUShort());

    // An edit while listening shows in the stop line but takes effect at the next start.
    m_settings.BSAServerPoort = QStringLiteral("1");
    m_lifecycle->BtnExecuteClick(m_now.addSecs(60));
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
    m_lifecycle->BtnExecuteClick(m_now);
    QVERIFY(!m_server->isActive());
    QCOMPARE(logged(), QStringList { "'" + port + "' is geen geldig poortnummer" });
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
    m_lifecycle->BtnExecuteClick(m_now);
    QVERIFY(!m_server->isActive());
    m_lifecycle->startAutomatically(m_now);
    QVERIFY(m_server->isActive());
}

void TestServerLifecycle::keepsTheConnectionList()
{
    QSignalSpy changes(m_lifecycle.get(), &ServerLifecycle::stChanged);
    m_lifecycle->BtnExecuteClick(m_now);
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
    m_lifecycle->BtnExecuteClick(m_now);
    auto first = connectPeer();
    QVERIFY(first);
    m_lifecycle->BtnExecuteClick(m_now);
    QVERIFY(!m_server->isActive());
    QCOMPARE(m_lifecycle->ST(), QStringList { "127.0.0.1" });

    // The port may have been taken meanwhile by someone else: start on a fresh one.
    m_settings.BSAServerPoort = QString::number(freeLoopbackPort());
    m_lifecycle->BtnExecuteClick(m_now);
    QVERIFY(m_server->isActive());
    auto again = connectPeer();
    QVERIFY(again);
    QCOMPARE(m_lifecycle->ST(), QStringList({ "DISCONNECTED_UNIT", "127.0.0.1" }));
}

QTEST_GUILESS_MAIN(TestServerLifecycle)
#include "TestServerLifecycle.moc"

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
    m_replies = std::make_unique<HostReplies>();
    connect(m_client.get(), &BSAClient::envelopeReceived, m_replies.get(), &HostReplies::BSAClientRead);
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
    QTest::addColumn<QByteArrayList>("reads"); // what the host writes, one entry per write
    QTest::addColumn<QStringList>("logged");
    const QByteArray ac = envelope(hexOf("AC\tBSA\t6\t12345\t"));
    const QByteArray nc = envelope(hexOf("NC\tBSA\t6\t812\t"));
    const QStringList acLines { "L:CI: " + QString::fromLatin1(ac), "L:CI STATUS: AC", "L:CI WAARDE: BSA",
        "L:CI BS RITNUMMER: 12345" };
    const QStringList ncLines { "L:CI: " + QString::fromLatin1(nc), "L:CI STATUS: NC", "L:CI WAARDE: BSA",
        "L:CI BS RITNUMMER: 812" };

    QTest::newRow("an acknowledgement gives four lines") << QByteArrayList { ac } << acLines;
    QTest::newRow("a refusal is logged like an acknowledgement") << QByteArrayList { nc } << ncLines;
    QTest::newRow("a reply followed by CR LF") << QByteArrayList { ac + "\r\n" } << acLines;
    QTest::newRow("two replies in one read") << QByteArrayList { ac + nc } << acLines + ncLines;
    QTest::newRow("a reply split over two reads") << QByteArrayList { ac.left(11), ac.mid(11) } << acLines;
    QTest::newRow("fields after the fourth are ignored")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6\t12345\tx\ty")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6\t12345\tx\ty"))), "L:CI STATUS: AC",
               "L:CI WAARDE: BSA", "L:CI BS RITNUMMER: 12345" };
    QTest::newRow("a ride number that is not a number is 0")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6\t12a\t")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6\t12a\t"))), "L:CI STATUS: AC",
               "L:CI WAARDE: BSA", "L:CI BS RITNUMMER: 0" };
    QTest::newRow("an empty reply logs its envelope and the failure")
        << QByteArrayList { "<ZORVAN><EINDE>" }
        << QStringList { "L:CI: <ZORVAN><EINDE>", "E:List index out of bounds (0)" };
    QTest::newRow("a reply of three fields stops after the envelope")
        << QByteArrayList { envelope(hexOf("AC\tBSA\t6")) }
        << QStringList { "L:CI: " + QString::fromLatin1(envelope(hexOf("AC\tBSA\t6"))),
               "E:List index out of bounds (3)" };
}

void TestHostLink::logsEachReplyOnItsOwn()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QStringList, logged);
    m_queue->append(QStringLiteral("4254"));
    auto host = connectHost();
    QVERIFY(host);
    for (const QByteArray &read : reads) {
        host->write(read);
        QVERIFY(host->waitForBytesWritten(5000));
        QTest::qWait(20); // lets the client read each part on its own
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_log, logged, 5000);
    // A reply changes nothing else: the queue and the connection stay as they were.
    QCOMPARE(m_queue->lines(), QStringList { "4254" });
    QVERIFY(m_client->isActive());
}

QTEST_GUILESS_MAIN(TestHostLink)
#include "TestHostLink.moc"

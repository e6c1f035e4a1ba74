#include <memory>
#include <optional>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "shell/Koppeling.h"
#include "shell/LinkMetrics.h"
#include "shell/StatusServer.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpExchange.h"
#include "tools/bsa-sim/HostSimulator.h"
#include "tools/bsa-sim/RideMessageBuilder.h"

// The status port of a running link, read over real HTTP on 127.0.0.1 as the monitoring reads it, while BSA sends
// rides over a real connection and the planning database is a real SQLite file.
class TestStatusPort final : public QObject
{
    Q_OBJECT
private slots:
    void figuresFollowTheRidesAnswered();
    void unhealthyDatabaseGives503WithTheReason_data();
    void unhealthyDatabaseGives503WithTheReason();
    void aLockedDatabaseIsBusyNotAnError();
    void countsStatusMessagesQueuedAndSent();
    void answersOnlyHealthAndMetrics_data();
    void answersOnlyHealthAndMetrics();
    void aRequestAboveTheBoundIsCutOff_data();
    void aRequestAboveTheBoundIsCutOff();
    void tooManyConnectionsAreTurnedAway();
    void listensOn127001Only();
    void aTakenPortIsRefusedWithTheReason();
};

namespace {

// A link on a temporary program folder, its BSA server on a free port of 127.0.0.1 (not started), and its status
// port on a port of the system's choosing.
struct Link
{
    QTemporaryDir home;
    std::unique_ptr<Koppeling> koppeling;
    quint16 bsaPort = 0;

    explicit Link(const QString &server = QStringLiteral("sqlite:BSA/planning.db"))
    {
        koppeling = std::make_unique<Koppeling>(home.path());
        if (!koppeling->start(nullptr))
            qFatal("the link did not start");
        bsaPort = freeLoopbackPort();
        Settings settings = koppeling->settings();
        settings.xLoginServer = server;
        settings.BSAServerPoort = QString::number(bsaPort);
        koppeling->setSettings(settings);
        QString error;
        if (!koppeling->startStatusPort(0, &error))
            qFatal("no status port: %s", qPrintable(error));
    }
    HttpReply get(const QByteArray &path) const { return httpGet(koppeling->statusPort(), path); }
    double metric(const QByteArray &sample) const { return metricValue(get("/metrics").body, sample); }
};

// A BSA connection that sends one message and reads its answer.
struct Bsa
{
    QTcpSocket socket;
    EnvelopeFramer framer;

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    // The answer's kind ("AC", "NC"), or an empty text when none came within the time.
    QString send(const QString &text)
    {
        socket.write(Inpakken(text, false));
        return answer();
    }
    QString answer(int timeoutMs = 5000)
    {
        std::optional<QByteArray> answer;
        (void)QTest::qWaitFor(
            [this, &answer] {
                framer.append(socket.readAll());
                answer = framer.takeEnvelope();
                return answer.has_value();
            },
            timeoutMs);
        return answer ? SplitsVelden(HexNaarTekst(*answer)).value(0) : QString();
    }
};

QString ride(int number, RideMessageBuilder::Kind kind = RideMessageBuilder::Kind::Ride)
{
    RideMessageBuilder builder(number, QDateTime::currentDateTime());
    builder.setKind(kind);
    return builder.text();
}

const QByteArray BnAc = "korvelbsa_rides_answered_total{kind=\"BN\",answer=\"AC\"}";
const QByteArray BnNc = "korvelbsa_rides_answered_total{kind=\"BN\",answer=\"NC\"}";
const QByteArray BvAc = "korvelbsa_rides_answered_total{kind=\"BV\",answer=\"AC\"}";
const QByteArray OtherNc = "korvelbsa_rides_answered_total{kind=\"other\",answer=\"NC\"}";
const QByteArray LatencyCount = "korvelbsa_answer_latency_seconds_count";

} // namespace

void TestStatusPort::figuresFollowTheRidesAnswered()
{
    Link link;
    HttpReply health = link.get("/health");
    QCOMPARE(health.status, 503);
    QCOMPARE(health.body, QByteArray("the BSA server is not listening\n"));

    link.koppeling->toggleServer(QDateTime::currentDateTime());
    QVERIFY(link.koppeling->isServerActive());
    health = link.get("/health");
    QCOMPARE(health.status, 200);
    QCOMPARE(health.body, QByteArray("ok\n"));

    HttpReply metrics = link.get("/metrics");
    QCOMPARE(metrics.status, 200);
    QVERIFY2(metrics.headers.contains("Content-Type: text/plain; version=0.0.4"), metrics.headers.constData());
    QVERIFY(metrics.body.contains("# TYPE korvelbsa_answer_latency_seconds histogram\n"));
    for (const QByteArray &sample : { BnAc, BnNc, BvAc, OtherNc, LatencyCount })
        QCOMPARE(metricValue(metrics.body, sample), 0.0);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_last_ride_timestamp_seconds"), 0.0);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_bsa_server_listening"), 1.0);
    QVERIFY(metricValue(metrics.body, "korvelbsa_uptime_seconds") >= 0.0);

    Bsa bsa;
    QVERIFY(bsa.connectTo(link.bsaPort));
    QTRY_COMPARE_WITH_TIMEOUT(link.metric("korvelbsa_bsa_connections"), 1.0, 5000);
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QCOMPARE(bsa.send(ride(4711)), QStringLiteral("AC"));
    QCOMPARE(bsa.send(ride(4711, RideMessageBuilder::Kind::Cancellation)), QStringLiteral("AC"));
    QCOMPARE(bsa.send(QStringLiteral("BN\tBSA")), QStringLiteral("NC")); // too few fields to be read
    QCOMPARE(bsa.send(ride(4712)), QStringLiteral("AC"));
    const double after = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;

    metrics = link.get("/metrics");
    QCOMPARE(metricValue(metrics.body, BnAc), 2.0);
    QCOMPARE(metricValue(metrics.body, BvAc), 1.0);
    QCOMPARE(metricValue(metrics.body, BnNc) + metricValue(metrics.body, OtherNc), 1.0);
    QCOMPARE(metricValue(metrics.body, LatencyCount), 4.0);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_answer_latency_seconds_bucket{le=\"+Inf\"}"), 4.0);
    const double sum = metricValue(metrics.body, "korvelbsa_answer_latency_seconds_sum");
    QVERIFY2(sum > 0.0 && sum < after - before + 0.01, metrics.body.constData());
    // The buckets count up to the total.
    double previous = 0;
    for (const double bound : LinkMetrics::LatencyBuckets) {
        const QByteArray sample
            = "korvelbsa_answer_latency_seconds_bucket{le=\"" + QByteArray::number(bound, 'g', 12) + "\"}";
        const double value = metricValue(metrics.body, sample);
        QVERIFY2(value >= previous && value <= 4.0, sample.constData());
        previous = value;
    }
    const double last = metricValue(metrics.body, "korvelbsa_last_ride_timestamp_seconds");
    QVERIFY2(last >= before - 0.001 && last <= after + 0.001, metrics.body.constData());
    QCOMPARE(metricValue(metrics.body, "korvelbsa_bsa_connections_accepted_total"), 1.0);
    QCOMPARE(metricValue(metrics.body, "korvelbsa_database_errors_total"), 0.0);

    bsa.socket.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(link.metric("korvelbsa_bsa_connections"), 0.0, 5000);

    // The operator stops the server.
    link.koppeling->toggleServer(QDateTime::currentDateTime());
    health = link.get("/health");
    QCOMPARE(health.status, 503);
    QCOMPARE(health.body, QByteArray("the BSA server is not listening\n"));
    QCOMPARE(link.metric("korvelbsa_healthy"), 0.0);
}

void TestStatusPort::unhealthyDatabaseGives503WithTheReason_data()
{
    QTest::addColumn<QString>("server"); // xLoginServer; "FILE" stands for a regular file in the program folder
    QTest::addColumn<QString>("reason"); // what /health says, at the start of its line
    QTest::addColumn<bool>("counted"); // as a database error
    QTest::newRow("a database that cannot be opened")
        << QStringLiteral("sqlite:FILE/planning.db") << QStringLiteral("the last database statement failed: ") << true;
    QTest::newRow("no database configured")
        << QString() << QStringLiteral("no database configured (xLoginServer)") << false;
}

void TestStatusPort::unhealthyDatabaseGives503WithTheReason()
{
    QFETCH(QString, server);
    QFETCH(QString, reason);
    QFETCH(bool, counted);
    Link link(server);
    // A regular file where the database's folder should be: SQLite cannot open a file below it.
    QFile blocker(link.home.filePath(QStringLiteral("FILE")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    link.koppeling->toggleServer(QDateTime::currentDateTime());
    QVERIFY(link.koppeling->isServerActive());

    Bsa bsa;
    QVERIFY(bsa.connectTo(link.bsaPort));
    QCOMPARE(bsa.send(ride(4711)), QStringLiteral("NC"));
    const HttpReply health = link.get("/health");
    QCOMPARE(health.status, 503);
    QVERIFY2(health.body.startsWith(reason.toUtf8()), health.body.constData());
    QCOMPARE(health.body.count('\n'), 1);
    const double errors = link.metric("korvelbsa_database_errors_total");
    QCOMPARE(errors > 0, counted);
    if (counted) // the database's own words follow
        QVERIFY2(health.body.size() > reason.size() + 1, health.body.constData());
    QCOMPARE(link.metric("korvelbsa_healthy"), 0.0);

    // The operator sets a database that works: the next ride is stored and the link is healthy again.
    Settings settings = link.koppeling->settings();
    settings.xLoginServer = QStringLiteral("sqlite:BSA/planning.db");
    link.koppeling->setSettings(settings);
    QCOMPARE(bsa.send(ride(4711)), QStringLiteral("AC"));
    QCOMPARE(link.get("/health").status, 200);
    QCOMPARE(link.metric("korvelbsa_database_errors_total"), errors);
    QCOMPARE(link.metric("korvelbsa_database_ok"), 1.0);
}

void TestStatusPort::aLockedDatabaseIsBusyNotAnError()
{
    Link link;
    link.koppeling->toggleServer(QDateTime::currentDateTime());
    Bsa bsa;
    QVERIFY(bsa.connectTo(link.bsaPort));
    QCOMPARE(bsa.send(ride(4710)), QStringLiteral("AC")); // the tables exist from here on

    const QString connection = QStringLiteral("locker");
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        locker.setDatabaseName(link.home.filePath(QStringLiteral("BSA/planning.db")));
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
        bsa.socket.write(Inpakken(ride(4711), false));
        // While another program holds the lock, the ride waits and the link says why.
        QTRY_VERIFY_WITH_TIMEOUT(link.metric("korvelbsa_database_busy_total") >= 1.0, 5000);
        const HttpReply health = link.get("/health");
        QCOMPARE(health.status, 503);
        QVERIFY2(health.body.startsWith("the last database statement failed: "), health.body.constData());
        QVERIFY2(health.body.contains("locked"), health.body.constData());
        QVERIFY(lock.exec(QStringLiteral("COMMIT")));
        locker.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QCOMPARE(bsa.answer(), QStringLiteral("AC")); // the ride that waited
    QCOMPARE(link.get("/health").status, 200);
    QCOMPARE(link.metric("korvelbsa_database_errors_total"), 0.0);
    QCOMPARE(link.metric(BnAc), 2.0);
}

void TestStatusPort::countsStatusMessagesQueuedAndSent()
{
    Link link;
    const QByteArray queued = "korvelbsa_status_messages_queued_total";
    const QByteArray sent = "korvelbsa_status_messages_sent_total";
    const QByteArray waiting = "korvelbsa_status_messages_waiting";
    // The BSA host is down: TEST ACK queues two messages that wait.
    const quint16 hostPort = freeLoopbackPort();
    Settings settings = link.koppeling->settings();
    settings.BSAHostPoort = QString::number(hostPort);
    link.koppeling->setSettings(settings);
    link.koppeling->queueTestAcknowledgement();
    link.koppeling->queueTestAcknowledgement();
    link.koppeling->Timer1Timer(); // tries to connect, and fails
    QCOMPARE(link.metric(queued), 2.0);
    QCOMPARE(link.metric(sent), 0.0);
    QCOMPARE(link.metric(waiting), 2.0);

    // The host comes up: the ticks connect and send one message each.
    HostSimulator host;
    QSignalSpy received(&host, &HostSimulator::messageReceived);
    QString error;
    QVERIFY2(host.listen(QHostAddress::LocalHost, hostPort, &error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
        link.koppeling->Timer1Timer();
        return received.size() == 2;
    }()),
        10000);
    QCOMPARE(link.metric(queued), 2.0);
    QCOMPARE(link.metric(sent), 2.0);
    QCOMPARE(link.metric(waiting), 0.0);
    // The host answers each test acknowledgement, which waits for nothing: such replies are counted.
    QTRY_COMPARE_WITH_TIMEOUT(link.metric("korvelbsa_host_replies_stray_total"), 2.0, 5000);
    QCOMPARE(link.metric("korvelbsa_status_replies_missed_total"), 0.0);
}

void TestStatusPort::answersOnlyHealthAndMetrics_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bodyStart");
    const QByteArray end = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    QTest::newRow("GET /metrics with a query is the metrics")
        << "GET /metrics?name=x" + end << 200 << QByteArray("# HELP korvelbsa_");
    QTest::newRow("GET /health over HTTP/1.0")
        << QByteArray("GET /health HTTP/1.0\r\n\r\n") << 503 << QByteArray("the BSA server is not listening");
    QTest::newRow("GET / is not found") << "GET /" + end << 404 << QByteArray("not found");
    QTest::newRow("GET /healthz is not found") << "GET /healthz" + end << 404 << QByteArray("not found");
    QTest::newRow("GET /metrics/ is not found") << "GET /metrics/" + end << 404 << QByteArray("not found");
    QTest::newRow("POST /health is not found")
        << QByteArray("POST /health HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\nok") << 404
        << QByteArray("not found");
    QTest::newRow("DELETE /metrics is not found") << "DELETE /metrics" + end << 404 << QByteArray("not found");
}

void TestStatusPort::answersOnlyHealthAndMetrics()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, bodyStart);
    Link link;
    const HttpReply reply = httpExchange(QHostAddress::LocalHost, link.koppeling->statusPort(), request);
    QVERIFY(reply.closed); // one answer, then the connection closes
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.body.startsWith(bodyStart), reply.body.constData());
    QVERIFY(reply.headers.contains("\r\nConnection: close"));
}

void TestStatusPort::aRequestAboveTheBoundIsCutOff_data()
{
    QTest::addColumn<QByteArray>("request");
    const QByteArray filler(StatusServer::MaxRequestBytes * 4, 'x');
    QTest::newRow("a large body") << "POST /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
            + QByteArray::number(filler.size()) + "\r\n\r\n" + filler;
    QTest::newRow("a long header") << "GET /metrics HTTP/1.1\r\nX-Filler: " + filler + "\r\n\r\n";
}

void TestStatusPort::aRequestAboveTheBoundIsCutOff()
{
    QFETCH(QByteArray, request);
    Link link;
    // Cut off as soon as the bound is passed, long before the connection's time is up.
    const auto waitMs = int(StatusServer::ConnectionTimeout.count() / 2);
    const HttpReply reply = httpExchange(QHostAddress::LocalHost, link.koppeling->statusPort(), request, waitMs);
    QVERIFY(reply.connected);
    QVERIFY(reply.closed);
    QCOMPARE(reply.status, 0); // without an answer
    // The port goes on answering.
    QCOMPARE(link.get("/metrics").status, 200);
}

void TestStatusPort::tooManyConnectionsAreTurnedAway()
{
    Link link;
    // Connections that never finish their request hold their places, until their time is up.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < StatusServer::MaxConnections; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, link.koppeling->statusPort());
        QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::ConnectedState, 5000);
        socket->write("GET /metrics HTTP/1.1\r\nHost:");
        idle.push_back(std::move(socket));
    }
    const HttpReply turnedAway = link.get("/health");
    QVERIFY(turnedAway.closed);
    QCOMPARE(turnedAway.status, 0);
    for (auto &socket : idle) {
        QTRY_COMPARE_WITH_TIMEOUT(
            socket->state(), QAbstractSocket::UnconnectedState, int(StatusServer::ConnectionTimeout.count()) + 5000);
        QCOMPARE(socket->readAll(), QByteArray()); // closed without an answer
    }
    QCOMPARE(link.get("/health").status, 503);
}

void TestStatusPort::listensOn127001Only()
{
    Link link;
    QCOMPARE(link.get("/health").status, 503);
    // Another address of this machine: the loopback range holds more than one.
    const HttpReply elsewhere = httpExchange(
        QHostAddress(QStringLiteral("127.0.0.2")), link.koppeling->statusPort(), "GET /health HTTP/1.1\r\n\r\n", 5000);
    QVERIFY(!elsewhere.connected);
}

void TestStatusPort::aTakenPortIsRefusedWithTheReason()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    QString error;
    QVERIFY(!koppeling.startStatusPort(taken.serverPort(), &error));
    QVERIFY2(error.contains(QString::number(taken.serverPort())) && error.contains(QStringLiteral("127.0.0.1")),
        qPrintable(error));
    QCOMPARE(koppeling.statusPort(), quint16(0));
}

QTEST_GUILESS_MAIN(TestStatusPort)
#include "TestStatusPort.moc"

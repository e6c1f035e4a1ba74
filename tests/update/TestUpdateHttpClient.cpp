#include <QtTest>

#include "tests/support/LoopbackHttpServer.h"
#include "update/UpdateHttpClient.h"

// The update's HTTP client against a real server on 127.0.0.1.
class TestUpdateHttpClient final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sendsTheHeadersOfTheUpdateServer();
    void endsAsTheServerAnswers_data();
    void endsAsTheServerAnswers();
    void headTellsTheContentLength_data();
    void headTellsTheContentLength();
    void requestsGoThroughTheProxy();
    void serverDownFails();
    void onlyHttpAddressesAreFetched();
    void writesTheBodyIntoTheDevice();
    void abortEndsTheRequestAsFailed();
    void destroyingTheClientClosesItsConnection();
    void silentServerFailsAfterTheTransferTimeout();
    void refusesASecondRequestWhileOneRuns();

private:
    static UpdateHttpResult waitForResult(UpdateHttpClient &client);
    LoopbackHttpServer m_server;
};

UpdateHttpResult TestUpdateHttpClient::waitForResult(UpdateHttpClient &client)
{
    QSignalSpy finished(&client, &UpdateHttpClient::finished);
    if (!finished.wait(10000))
        return UpdateHttpResult { false, -1, QStringLiteral("no result within 10 seconds"), {}, {} };
    return finished.first().first().value<UpdateHttpResult>();
}

void TestUpdateHttpClient::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.answer("/description.ini", HttpAnswer::ok("[KorvelBSA]\nVersion=9.0.1.15\n"));
    m_server.answer("/error", HttpAnswer::withStatus(500, "Internal Server Error"));
    m_server.answer("/login", HttpAnswer::withStatus(401, "Unauthorized"));
    m_server.answer("/proxy-login", HttpAnswer::withStatus(407, "Proxy Authentication Required"));
    m_server.answer("/moved", HttpAnswer::withStatus(304, "Not Modified"));
    m_server.redirectChain("/five", 5, "/description.ini");
    m_server.redirectChain("/six", 6, "/description.ini");
    HttpAnswer cut = HttpAnswer::ok(QByteArray(2048, 'x'));
    cut.delivery = HttpAnswer::Delivery::HalfThenCut;
    m_server.answer("/cut", cut);
    HttpAnswer silent;
    silent.delivery = HttpAnswer::Delivery::Never;
    m_server.answer("/silent", silent);
    HttpAnswer noLength = HttpAnswer::ok(QByteArray(2048, 'x'));
    noLength.contentLength = false;
    m_server.answer("/no-length", noLength);
    HttpAnswer oddLength = HttpAnswer::ok(QByteArray());
    oddLength.contentLength = false;
    oddLength.headers = { { "Content-Length", "twee" } };
    m_server.answerHead("/odd-length", oddLength);
}

void TestUpdateHttpClient::sendsTheHeadersOfTheUpdateServer()
{
    UpdateHttpClient client;
    m_server.requests.clear();
    QVERIFY(client.get(m_server.url("/description.ini")));
    QVERIFY(waitForResult(client).ok);
    QCOMPARE(m_server.requests.size(), 1);
    const LoopbackHttpServer::Request request = m_server.requests.first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("Mozilla/4.0 (compatible; ICS)"));
    QCOMPARE(request.headers.value("accept"), QByteArray("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*"));
    QCOMPARE(request.headers.value("pragma"), QByteArray("no-cache"));
    QCOMPARE(request.headers.value("accept-encoding"), QByteArray("identity"));
    QVERIFY(!request.headers.contains("authorization"));
    QVERIFY(!request.headers.contains("http2-settings")); // HTTP/2 is never asked for
    QVERIFY(!request.headers.contains("upgrade"));
}

void TestUpdateHttpClient::endsAsTheServerAnswers_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("failureText"); // when not ok; empty: only the status is checked
    QTest::addColumn<int>("statusCode");

    QTest::newRow("200 succeeds") << QByteArray("/description.ini") << true << QString() << 200;
    QTest::newRow("404 fails with status and reason")
        << QByteArray("/missing") << false << QStringLiteral("Mislukt: 404 Not Found") << 404;
    QTest::newRow("500 fails") << QByteArray("/error") << false << QStringLiteral("Mislukt: 500 Internal Server Error")
                               << 500;
    QTest::newRow("401 counts as success") << QByteArray("/login") << true << QString() << 401;
    QTest::newRow("407 counts as success") << QByteArray("/proxy-login") << true << QString() << 407;
    QTest::newRow("a status below 400 succeeds") << QByteArray("/moved") << true << QString() << 304;
    QTest::newRow("5 redirections in a row are followed") << QByteArray("/five") << true << QString() << 200;
    QTest::newRow("a 6th redirection fails") << QByteArray("/six") << false << QString() << 0;
    QTest::newRow("a connection cut halfway fails") << QByteArray("/cut") << false << QString() << 0;
    QTest::newRow("an answer without Content-Length ends with the connection")
        << QByteArray("/no-length") << true << QString() << 200;
}

void TestUpdateHttpClient::endsAsTheServerAnswers()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, ok);
    QFETCH(QString, failureText);
    QFETCH(int, statusCode);

    UpdateHttpClient client;
    QVERIFY(client.get(m_server.url(path)));
    QVERIFY(client.isRunning());
    const UpdateHttpResult result = waitForResult(client);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.statusCode, statusCode);
    QVERIFY(!client.isRunning());
    if (ok && statusCode == 200)
        QVERIFY(!result.body.isEmpty());
    if (!ok) {
        QVERIFY(result.body.isEmpty());
        QVERIFY(!result.reasonPhrase.isEmpty());
        QVERIFY(result.failureText().startsWith(QStringLiteral("Mislukt: %1 ").arg(statusCode)));
    }
    if (!failureText.isEmpty())
        QCOMPARE(result.failureText(), failureText);
}

void TestUpdateHttpClient::headTellsTheContentLength_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("contentLength");
    QTest::newRow("the size of the body") << QByteArray("/cut") << qint64(2048);
    QTest::newRow("no Content-Length is 0") << QByteArray("/no-length") << qint64(0);
    QTest::newRow("a Content-Length that is no number is 0") << QByteArray("/odd-length") << qint64(0);
    QTest::newRow("a failed HEAD is 0") << QByteArray("/missing") << qint64(0);
}

void TestUpdateHttpClient::headTellsTheContentLength()
{
    QFETCH(QByteArray, path);
    QFETCH(qint64, contentLength);
    UpdateHttpClient client;
    m_server.requests.clear();
    QVERIFY(client.head(m_server.url(path)));
    const UpdateHttpResult result = waitForResult(client);
    QCOMPARE(result.ok ? result.contentLength() : 0, contentLength);
    QCOMPARE(m_server.requests.value(0).method, QByteArray("HEAD"));
}

void TestUpdateHttpClient::requestsGoThroughTheProxy()
{
    UpdateHttpClient client;
    client.setProxy(QStringLiteral("127.0.0.1"), QString::number(m_server.port()));
    m_server.requests.clear();
    // A host that no name server knows: only the proxy can answer.
    QVERIFY(client.get(QUrl(QStringLiteral("http://updates.korvel.example/description.ini"))));
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY2(result.ok, qPrintable(result.failureText()));
    QCOMPARE(result.body, QByteArray("[KorvelBSA]\nVersion=9.0.1.15\n"));
    QCOMPARE(m_server.requests.value(0).target, QByteArray("http://updates.korvel.example/description.ini"));

    client.setProxy(QString(), QStringLiteral("80")); // empty again: a direct connection
    m_server.requests.clear();
    QVERIFY(client.get(m_server.url("/description.ini")));
    QVERIFY(waitForResult(client).ok);
    QCOMPARE(m_server.requests.value(0).target, QByteArray("/description.ini"));
}

void TestUpdateHttpClient::serverDownFails()
{
    LoopbackHttpServer down;
    QVERIFY(down.listen());
    const QUrl url = down.url("/description.ini");
    down.close();

    UpdateHttpClient client;
    QVERIFY(client.get(url));
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY(!result.ok);
    QCOMPARE(result.statusCode, 0);
    QVERIFY(!result.reasonPhrase.isEmpty());
}

void TestUpdateHttpClient::onlyHttpAddressesAreFetched()
{
    UpdateHttpClient client;
    QVERIFY(client.get(QUrl(QStringLiteral("file:///etc/passwd"))));
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY(!result.ok);
    QVERIFY(result.body.isEmpty());
}

void TestUpdateHttpClient::writesTheBodyIntoTheDevice()
{
    UpdateHttpClient client;
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QSignalSpy received(&client, &UpdateHttpClient::received);
    QVERIFY(client.get(m_server.url("/no-length"), &sink));
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY(result.ok);
    QVERIFY(result.body.isEmpty());
    QCOMPARE(sink.data(), QByteArray(2048, 'x'));
    QVERIFY(!received.isEmpty());
    QCOMPARE(received.last().first().toLongLong(), qint64(2048));
}

void TestUpdateHttpClient::abortEndsTheRequestAsFailed()
{
    UpdateHttpClient client;
    QSignalSpy requested(&m_server, &LoopbackHttpServer::requestReceived);
    QVERIFY(client.get(m_server.url("/silent")));
    QVERIFY(requested.wait(5000));
    client.abort();
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY(!result.ok);
    QCOMPARE(result.statusCode, 0);
}

void TestUpdateHttpClient::destroyingTheClientClosesItsConnection()
{
    QSignalSpy requested(&m_server, &LoopbackHttpServer::requestReceived);
    QSignalSpy closed(&m_server, &LoopbackHttpServer::connectionClosed);
    {
        UpdateHttpClient client;
        QVERIFY(client.get(m_server.url("/silent")));
        QVERIFY(requested.wait(5000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 5000);
}

void TestUpdateHttpClient::silentServerFailsAfterTheTransferTimeout()
{
    UpdateHttpClient client;
    client.setTransferTimeout(std::chrono::milliseconds(300));
    QVERIFY(client.get(m_server.url("/silent")));
    const UpdateHttpResult result = waitForResult(client);
    QVERIFY(!result.ok);
    QCOMPARE(result.statusCode, 0);
}

void TestUpdateHttpClient::refusesASecondRequestWhileOneRuns()
{
    UpdateHttpClient client;
    QVERIFY(client.get(m_server.url("/description.ini")));
    QVERIFY(!client.get(m_server.url("/description.ini")));
    QVERIFY(!client.head(m_server.url("/description.ini")));
    QVERIFY(waitForResult(client).ok);
    QVERIFY(client.get(m_server.url("/description.ini"))); // free again once it finished
    QVERIFY(waitForResult(client).ok);
}

QTEST_GUILESS_MAIN(TestUpdateHttpClient)
#include "TestUpdateHttpClient.moc"

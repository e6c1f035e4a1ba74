#include <QtTest>

#include "tests/support/LoopbackHttpServer.h"
#include "update/UpdateChecker.h"

// The update check without its dialogs, against a real server on 127.0.0.1: what the description offers, and
// what the check makes of an unreadable one.
class TestUpdateChecker final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void comparesTheOfferWithTheRunningVersion_data();
    void comparesTheOfferWithTheRunningVersion();
    void fetchesTheReadme_data();
    void fetchesTheReadme();
    void relativeAddressesAreRelativeToTheDescription();
    void aSecondStartWhileOneRunsIsRefused();
    void withoutAnAddressNothingIsFetched();

private:
    UpdateCheckResult check(const QUrl &description, const QString &version = QStringLiteral("9.0.1.14"));
    LoopbackHttpServer m_server;
};

namespace {

const QUrl ConfiguredPage(QStringLiteral("https://www.korvel.example/bsa/update"));

QByteArray describe(const QByteArray &version)
{
    return "[KorvelBSA]\r\nVersion=" + version + "\r\nDownloadFileURL=http://127.0.0.1:1/KorvelBSA\r\n";
}

} // namespace

void TestUpdateChecker::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.answer("/newer.ini", HttpAnswer::ok(describe("9.0.1.15")));
    m_server.answer("/same.ini", HttpAnswer::ok(describe("9.0.1.14")));
    m_server.answer("/older.ini", HttpAnswer::ok(describe("9.0.1.9")));
    m_server.answer("/ten.ini", HttpAnswer::ok(describe("10.0.0.0")));
    m_server.answer("/other-program.ini", HttpAnswer::ok("[KorvelPlanning]\nVersion=99.0.0.0\n"));
    m_server.answer("/with-page.ini", HttpAnswer::ok("[KorvelBSA]\nVersion=9.0.1.14\nUpdatePageURL=http://host/p\n"));
    m_server.answer("/readme.txt", HttpAnswer::ok("Nieuw in 9.0.1.15:\r\n- snellere intake\r\n"));
    m_server.answer("/with-readme.ini",
        HttpAnswer::ok(
            "[KorvelBSA]\nVersion=9.0.1.15\nReadmeFileURL=" + m_server.url("/readme.txt").toEncoded() + "\n"));
    m_server.answer("/lost-readme.ini",
        HttpAnswer::ok("[KorvelBSA]\nVersion=9.0.1.15\nReadmeFileURL=" + m_server.url("/gone.txt").toEncoded() + "\n"));
    m_server.answer("/relative.ini",
        HttpAnswer::ok("[KorvelBSA]\nVersion=9.0.1.15\nDownloadFileURL=files/KorvelBSA\n"
                       "ReadmeFileURL=readme.txt\n"));
    HttpAnswer silent;
    silent.delivery = HttpAnswer::Delivery::Never;
    m_server.answer("/silent.ini", silent);
}

UpdateCheckResult TestUpdateChecker::check(const QUrl &description, const QString &version)
{
    UpdateChecker checker(QStringLiteral("/opt/korvel/KorvelBSA"), version);
    checker.UpdateFileURL = description;
    checker.UpdatePageURL = ConfiguredPage;
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    if (!checker.start() || !finished.wait(10000)) {
        UpdateCheckResult none;
        none.readme = QStringLiteral("(no result)");
        return none;
    }
    return finished.first().first().value<UpdateCheckResult>();
}

void TestUpdateChecker::comparesTheOfferWithTheRunningVersion_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("page");

    const QString configured = ConfiguredPage.toString();
    QTest::newRow("a newer build is offered") << QByteArray("/newer.ini") << true << "9.0.1.15" << configured;
    QTest::newRow("the same version is not") << QByteArray("/same.ini") << false << "9.0.1.14" << configured;
    QTest::newRow("9.0.1.9 is older than the running 9.0.1.14")
        << QByteArray("/older.ini") << false << "9.0.1.9" << configured;
    QTest::newRow("10.0.0.0 is newer") << QByteArray("/ten.ini") << true << "10.0.0.0" << configured;
    QTest::newRow("a description for another program offers nothing")
        << QByteArray("/other-program.ini") << false << "" << configured;
    QTest::newRow("a description that is not there offers nothing")
        << QByteArray("/missing.ini") << false << "" << configured;
    QTest::newRow("the description's own page is kept") << QByteArray("/with-page.ini") << false << "9.0.1.14"
                                                        << "http://host/p";
}

void TestUpdateChecker::comparesTheOfferWithTheRunningVersion()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, newer);
    QFETCH(QString, version);
    QFETCH(QString, page);
    const UpdateCheckResult result = check(m_server.url(path));
    QCOMPARE(result.newer, newer);
    QCOMPARE(result.description.Version, version);
    QCOMPARE(result.description.UpdatePageURL, page);
}

void TestUpdateChecker::fetchesTheReadme_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("readme");
    QTest::newRow("the readme's lines") << QByteArray("/with-readme.ini") << "Nieuw in 9.0.1.15:\n- snellere intake\n";
    QTest::newRow("a readme that is not there says why") << QByteArray("/lost-readme.ini") << "Mislukt: 404 Not Found";
    QTest::newRow("no readme named, no text") << QByteArray("/newer.ini") << "";
}

void TestUpdateChecker::fetchesTheReadme()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, readme);
    const UpdateCheckResult result = check(m_server.url(path));
    QVERIFY(result.newer);
    QCOMPARE(result.readme, readme);
}

void TestUpdateChecker::relativeAddressesAreRelativeToTheDescription()
{
    const UpdateCheckResult result = check(m_server.url("/relative.ini"));
    QCOMPARE(result.description.DownloadFileURL, m_server.url("/files/KorvelBSA").toString());
    QCOMPARE(result.readme, QStringLiteral("Nieuw in 9.0.1.15:\n- snellere intake\n"));
}

void TestUpdateChecker::aSecondStartWhileOneRunsIsRefused()
{
    UpdateChecker checker(QStringLiteral("/opt/korvel/KorvelBSA"), QStringLiteral("9.0.1.14"));
    checker.UpdateFileURL = m_server.url("/silent.ini");
    QSignalSpy requested(&m_server, &LoopbackHttpServer::requestReceived);
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    QVERIFY(checker.start());
    QVERIFY(requested.wait(5000));
    QVERIFY(!checker.start());
    QVERIFY(checker.isRunning());
    checker.abort();
    QTRY_VERIFY_WITH_TIMEOUT(!checker.isRunning(), 5000);
    QCOMPARE(finished.size(), 0); // an aborted check reports nothing
    QCOMPARE(requested.size(), 1);
}

void TestUpdateChecker::withoutAnAddressNothingIsFetched()
{
    m_server.requests.clear();
    const UpdateCheckResult result = check(QUrl());
    QVERIFY(!result.newer);
    QVERIFY(result.description.UpdatePageURL.isEmpty());
    QVERIFY(m_server.requests.isEmpty());
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "TestUpdateChecker.moc"

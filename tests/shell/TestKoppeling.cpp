#include <memory>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "codec/Envelope.h"
#include "platform/Database.h"
#include "shell/Koppeling.h"
#include "tests/support/FreePort.h"
#include "tests/support/PlanningRows.h"

// The owner as a front end sees it: the database test button, the server button and the one-second tick, the
// settings it reads and changes, and the log lines it is told about.
class TestKoppeling final : public QObject
{
    Q_OBJECT
private slots:
    void testButtonKeepsTheLogAndAddsTheFailure();
    void testButtonAddsAnyOtherFailureThroughTheHook();
    void testButtonUsesTheLoginAsItIsThen();
    void tickStartsTheServerWhenAutomaticStartIsOn();
    void frontEndIsToldOfEveryLogChange();
    void editsAfterTheLastCaptureAreNotStored();
    void testAckReachesTheHostAsItsWireText();
    void testStatusQueuesTheRowWhateverItsFeedbackState();
    void pakketInReachesWhoeverIsConnectedThen();
};

void TestKoppeling::testButtonKeepsTheLogAndAddsTheFailure()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    Settings settings = koppeling.settings();
    settings.BSAServerPoort = QStringLiteral("abc");
    koppeling.setSettings(settings);
    koppeling.toggleServer(QDateTime::currentDateTime()); // an earlier line: the port is refused
    QString error;
    QVERIFY(!koppeling.testDatabaseLogin(&error)); // no SQL server set: the connect is abandoned
    QCOMPARE(error, QStringLiteral("Operation aborted"));
    // The abandoned connect never reaches the exception hook: it shows once, without a time stamp.
    const QStringList lines = koppeling.logLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith(QStringLiteral(" - 'abc' is geen geldig poortnummer")), qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("Operation aborted"));
}

void TestKoppeling::testButtonAddsAnyOtherFailureThroughTheHook()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    Settings settings = koppeling.settings();
    // Nothing listens there: the connect is refused at once.
    settings.xLoginServer = QStringLiteral("postgresql:127.0.0.1:%1").arg(freeLoopbackPort());
    koppeling.setSettings(settings);
    QString error;
    QVERIFY(!koppeling.testDatabaseLogin(&error));
    QVERIFY(!error.isEmpty());
    // The message as it is, then through the hook with its time stamp; a driver's message that spans lines stays
    // one log line.
    const QString shown = OperatorLog::shown(error);
    QVERIFY(!shown.contains(QLatin1Char('\n')));
    const QStringList lines = koppeling.logLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.first(), shown);
    QVERIFY2(lines.last().endsWith(QStringLiteral(" - ") + shown), qPrintable(lines.join('\n')));
    QVERIFY(!koppeling.isDatabaseOpen());
}

void TestKoppeling::testButtonUsesTheLoginAsItIsThen()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    QVERIFY(!koppeling.testDatabaseLogin(nullptr));
    Settings settings = koppeling.settings();
    settings.xLoginServer = QStringLiteral("sqlite:BSA/planning.db");
    koppeling.setSettings(settings);
    QString error;
    QVERIFY2(koppeling.testDatabaseLogin(&error), qPrintable(error));
    QVERIFY(QFile::exists(home.filePath(QStringLiteral("BSA/planning.db"))));
    QCOMPARE(koppeling.logLines().size(), 1); // the first failure only
    QVERIFY(!koppeling.isDatabaseOpen()); // the test closes what it opened
}

void TestKoppeling::tickStartsTheServerWhenAutomaticStartIsOn()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    QSignalSpy st(&koppeling, &Koppeling::stChanged);
    Settings settings = koppeling.settings();
    settings.BSAServerPoort = QString::number(freeLoopbackPort());
    settings.BSAToegestaneAdressen = QStringLiteral("127.0.0.1"); // the start line is then the last
    koppeling.setSettings(settings);

    koppeling.Timer1Timer();
    QVERIFY(!koppeling.isServerActive());
    settings.BSAAuto = true;
    koppeling.setSettings(settings);
    koppeling.Timer1Timer();
    QVERIFY(koppeling.isServerActive());
    QVERIFY(koppeling.logLines().constLast().endsWith(QStringLiteral(" via poort ") + settings.BSAServerPoort));

    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, quint16(settings.BSAServerPoort.toInt()));
    QVERIFY(st.wait(5000));
    QCOMPARE(koppeling.ST(), QStringList { QStringLiteral("127.0.0.1") });
    QCOMPARE(st.constLast().at(0).toStringList(), koppeling.ST());

    // An operator's stop is undone by the next tick.
    koppeling.toggleServer(QDateTime::currentDateTime());
    QVERIFY(!koppeling.isServerActive());
    koppeling.Timer1Timer();
    QVERIFY(koppeling.isServerActive());
}

void TestKoppeling::frontEndIsToldOfEveryLogChange()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    QSignalSpy added(&koppeling, &Koppeling::logLineAdded);
    QSignalSpy cleared(&koppeling, &Koppeling::logCleared);
    QVERIFY(!koppeling.testDatabaseLogin(nullptr));
    QCOMPARE(added.size(), 1);
    QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("Operation aborted"));

    QVERIFY(koppeling.closeConfirmed(QDateTime::currentDateTime()));
    QCOMPARE(added.size(), 2);
    QVERIFY(added.constLast().at(0).toString().endsWith(QStringLiteral(" - afsluiten software geaccepteerd")));
    QCOMPARE(cleared.size(), 1); // archived
    QCOMPARE(koppeling.logLines(), QStringList());
}

void TestKoppeling::editsAfterTheLastCaptureAreNotStored()
{
    // The window captures when it hides to the tray; an end without the close question (the updater's hand-off)
    // writes what was captured then, not what was typed since.
    QTemporaryDir home;
    {
        Koppeling koppeling(home.path());
        QVERIFY(koppeling.start(nullptr));
        Settings settings = koppeling.settings();
        settings.BSA_BDR = QStringLiteral("21");
        koppeling.setSettings(settings);
        koppeling.CaptureSettings();
        settings.BSA_BDR = QStringLiteral("31");
        koppeling.setSettings(settings);
        QString error;
        QVERIFY2(koppeling.finish(&error), qPrintable(error));
    }
    Koppeling again(home.path());
    QVERIFY(again.start(nullptr));
    QCOMPARE(again.settings().BSA_BDR, QStringLiteral("21"));
}

void TestKoppeling::testAckReachesTheHostAsItsWireText()
{
    QTemporaryDir home;
    QTcpServer host;
    QVERIFY(host.listen(QHostAddress::LocalHost, 0));
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    Settings settings = koppeling.settings();
    settings.BSAHostPoort = QString::number(host.serverPort());
    koppeling.setSettings(settings);
    QSignalSpy queue(&koppeling, &Koppeling::pakketUitChanged);

    koppeling.queueTestAcknowledgement();
    const QString line = QStringLiteral("414309425341093609313233343509"); // "AC" "BSA" "6" "12345", TABs after each
    QCOMPARE(koppeling.pakketUitLines(), QStringList { line });
    QCOMPARE(queue.count(), 1);
    QCOMPARE(queue.first().at(0).toStringList(), QStringList { line });
    QCOMPARE(koppeling.logLines(), QStringList()); // nothing logged until it goes

    // The ticks connect, then send; the window's own timer may tick in between.
    std::unique_ptr<QTcpSocket> peer;
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
        koppeling.Timer1Timer();
        if (!peer && host.hasPendingConnections())
            peer.reset(host.nextPendingConnection());
        if (peer)
            received += peer->readAll();
        return received.contains("<EINDE>");
    }()),
        5000);
    const QByteArray wire = "<ZORVAN>" + line.toLatin1() + "<EINDE>";
    QTRY_COMPARE_WITH_TIMEOUT((received += peer->readAll()), wire, 5000);
    QVERIFY(koppeling.logLines().constLast().endsWith(QStringLiteral(" - CO: ") + QString::fromLatin1(wire)));
    QCOMPARE(koppeling.pakketUitLines(), QStringList());
    QCOMPARE(queue.constLast().at(0).toStringList(), QStringList());
}

void TestKoppeling::testStatusQueuesTheRowWhateverItsFeedbackState()
{
    QTemporaryDir home;
    const DatabaseLogin login { QStringLiteral("sqlite:BSA/planning.db"), {}, {}, {} };
    int id = 0;
    {
        Database database([&login] { return login; }, home.path());
        QString error;
        const std::optional<int> added = PlanningRows::add(database,
            PlanningRows::with(PlanningRows::deliveredRide(), { { QStringLiteral("pla_retour_rbs"), 2 } }), &error);
        QVERIFY2(added, qPrintable(error));
        id = *added;
    }
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    Settings settings = koppeling.settings();
    settings.xLoginServer = login.server;
    koppeling.setSettings(settings);

    koppeling.queueRideStatus(id); // feedback is off: nothing happens
    QCOMPARE(koppeling.pakketUitLines(), QStringList());
    QCOMPARE(koppeling.logLines(), QStringList());

    settings.BSATerug = true;
    koppeling.setSettings(settings);
    koppeling.queueRideStatus(id);
    QCOMPARE(koppeling.pakketUitLines().size(), 1);
    const QString text = HexNaarTekst(koppeling.pakketUitLines().constFirst().toLatin1());
    QVERIFY2(text.startsWith(QStringLiteral("BT\tBSA\t6\t812\t201101091405\t")), qPrintable(text));
    QCOMPARE(koppeling.logLines(), QStringList { text }); // the message itself, without a time stamp

    Database database([&login] { return login; }, home.path());
    QCOMPARE(PlanningRows::retourRbs(database, id), QStringLiteral("2"));
}

// The display list of a message is made only once a front end listens: it reaches every receiver connected when
// the message comes, once each, also one that connects after the last before it went away.
void TestKoppeling::pakketInReachesWhoeverIsConnectedThen()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    Settings settings = koppeling.settings();
    settings.BSAServerPoort = QString::number(freeLoopbackPort());
    koppeling.setSettings(settings);
    koppeling.toggleServer(QDateTime::currentDateTime());
    QVERIFY(koppeling.isServerActive());
    QTcpSocket bsa;
    bsa.connectToHost(QHostAddress::LocalHost, quint16(settings.BSAServerPoort.toInt()));
    QVERIFY(bsa.waitForConnected(5000));
    // A cancellation without a database: refused, but read and shown all the same.
    int sent = 0;
    QByteArray answers;
    const auto send = [&](int ritnummer) {
        QStringList fields(75);
        fields[0] = QStringLiteral("BV");
        fields[5] = QString::number(ritnummer);
        bsa.write(Inpakken(fields.join(u'\t'), false));
        ++sent;
        return fields;
    };
    const auto allAnswered = [&] { return (answers += bsa.readAll()).count("<EINDE>") == sent; };

    auto first = std::make_unique<QSignalSpy>(&koppeling, &Koppeling::pakketIn);
    auto second = std::make_unique<QSignalSpy>(&koppeling, &Koppeling::pakketIn);
    QStringList fields = send(4711);
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 5000);
    QCOMPARE(first->count(), 1);
    QCOMPARE(first->constLast().at(0).toStringList(), fields);
    QCOMPARE(second->count(), 1);

    first.reset();
    fields = send(4712);
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 5000);
    QCOMPARE(second->count(), 2);
    QCOMPARE(second->constLast().at(0).toStringList(), fields);

    second.reset();
    send(4713);
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 5000);
    QSignalSpy again(&koppeling, &Koppeling::pakketIn);
    fields = send(4714);
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 5000);
    QCOMPARE(again.count(), 1);
    QCOMPARE(again.constLast().at(0).toStringList(), fields);
}

QTEST_GUILESS_MAIN(TestKoppeling)
#include "TestKoppeling.moc"

#include <QtTest>
#include <QTcpServer>
#include <QTemporaryDir>

#include "shell/Koppeling.h"

// The owner's own duties: the database test button and the one-second tick.
class TestKoppeling final : public QObject
{
    Q_OBJECT
private slots:
    void testButtonKeepsTheLogAndAddsTheFailure();
    void testButtonSucceedsOnTheEmbeddedDatabase();
    void tickStartsTheServerWhenAutomaticStartIsOn();
};

void TestKoppeling::testButtonKeepsTheLogAndAddsTheFailure()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    koppeling.log().Logger(QStringLiteral("een eerdere regel"));
    QString error;
    QVERIFY(!koppeling.Button3Click(&error)); // no SQL server set: the connect is abandoned
    QCOMPARE(error, QStringLiteral("Operation aborted"));
    const QStringList lines = koppeling.log().lines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).endsWith(QStringLiteral(" - een eerdere regel")));
    QCOMPARE(lines.at(1), QStringLiteral("Operation aborted"));
    QVERIFY(lines.at(2).endsWith(QStringLiteral(" - Operation aborted")));
}

void TestKoppeling::testButtonSucceedsOnTheEmbeddedDatabase()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    koppeling.settings().xLoginServer = QStringLiteral("sqlite:BSA/planning.db");
    QString error;
    QVERIFY2(koppeling.Button3Click(&error), qPrintable(error));
    QVERIFY(!koppeling.database().isOpen()); // the test closes what it opened
    QCOMPARE(koppeling.log().lineCount(), 0);
}

void TestKoppeling::tickStartsTheServerWhenAutomaticStartIsOn()
{
    QTemporaryDir home;
    Koppeling koppeling(home.path());
    QVERIFY(koppeling.start(nullptr));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    koppeling.settings().BSAServerPoort = port;

    koppeling.Timer1Timer();
    QVERIFY(!koppeling.server().isActive());
    koppeling.settings().BSAAuto = true;
    koppeling.Timer1Timer();
    QVERIFY(koppeling.server().isActive());
    QVERIFY(koppeling.log().lines().constLast().endsWith(QStringLiteral(" via poort ") + port));
    // An operator's stop is undone by the next tick.
    koppeling.serverLifecycle().BtnExecuteClick(QDateTime::currentDateTime());
    QVERIFY(!koppeling.server().isActive());
    koppeling.Timer1Timer();
    QVERIFY(koppeling.server().isActive());
}

QTEST_GUILESS_MAIN(TestKoppeling)
#include "TestKoppeling.moc"

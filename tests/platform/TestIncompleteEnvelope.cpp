#include <QtTest>

#include "platform/IncompleteEnvelope.h"

// The operator reads these lines when a peer's envelope never ends; the server and the client word them alike.
class TestIncompleteEnvelope final : public QObject
{
    Q_OBJECT
private slots:
    void linesNameTheSideThePeerAndTheReason_data();
    void linesNameTheSideThePeerAndTheReason();
};

void TestIncompleteEnvelope::linesNameTheSideThePeerAndTheReason_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    using IncompleteEnvelope::Side;
    QTest::newRow("too large at the server") << IncompleteEnvelope::tooLargeLine(Side::Server,
        QStringLiteral("127.0.0.1")) << "SI: ONVOLLEDIG BERICHT VAN 127.0.0.1 GROTER DAN 1 MB, VERWORPEN";
    QTest::newRow("too large at the client") << IncompleteEnvelope::tooLargeLine(Side::Client,
        QStringLiteral("192.0.2.7")) << "CI: ONVOLLEDIG BERICHT VAN 192.0.2.7 GROTER DAN 1 MB, VERWORPEN";
    QTest::newRow("expired at the server") << IncompleteEnvelope::expiredLine(Side::Server, QStringLiteral("127.0.0.1"),
        30) << "SI: ONVOLLEDIG BERICHT VAN 127.0.0.1 NA 30 SECONDEN VERWORPEN, VERBINDING GESLOTEN";
}

void TestIncompleteEnvelope::linesNameTheSideThePeerAndTheReason()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(line, expected);
}

QTEST_GUILESS_MAIN(TestIncompleteEnvelope)
#include "TestIncompleteEnvelope.moc"

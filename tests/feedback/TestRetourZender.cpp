#include <memory>

#include <QtTest>

#include "codec/Envelope.h"
#include "feedback/OutgoingQueue.h"
#include "feedback/RetourZender.h"
#include "feedback/StatusMessageBuilder.h"
#include "platform/Database.h"
#include "settings/Settings.h"
#include "tests/support/FreePort.h"
#include "tests/support/PlanningRows.h"
#include "tests/support/TestDatabaseServer.h"

Q_DECLARE_METATYPE(TestDatabaseServer::Kind)

// The 15-second tick against real planning rows, on SQLite and on PostgreSQL: which row it takes, how it marks
// it, what it logs and queues, and what a database that refuses leaves behind.
namespace {
const QString Verzonden = QStringLiteral("L:D:-> RETOURMELDING VERZONDEN - ");
const QString Afgewezen = QStringLiteral("L:D:-> RETOURMELDING AFGEWEZEN - ");

// The BSA ride number in a queued line.
QString rideOf(const QString &line)
{
    return HexNaarTekst(line.toLatin1()).split(QLatin1Char('\t')).value(3);
}
} // namespace

class TestRetourZender final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void takesOneWaitingBsaRideAtEachTick();
    void marksARideWithoutBsaRideNumberAsHandled();
    void marksARowWhoseMessageCannotBeBuiltAsRefused();
    void leavesRowsAloneWithFeedbackOff();
    void takesTheMessageBackWhenTheRowCannotBeMarked();
    void leavesTheRowWaitingWhileTheQueueCannotBeSaved();
    void reportsADatabaseThatCannotBeReached();
    void leavesARowThatAnotherLinkMarkedToThatLink();
    void queuesNoSecondCopyOfAMessageOnItsWay_data();
    void queuesNoSecondCopyOfAMessageOnItsWay();

private:
    int addRow(const ColumnValues &changes);
    void refuseUpdates(bool refuse);

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_queueDir;
    DatabaseLogin m_login;
    Settings m_settings;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<OutgoingQueue> m_queue;
    std::unique_ptr<StatusMessageBuilder> m_builder;
    std::unique_ptr<RetourZender> m_zender;
    QStringList m_log; // L: logged, R: without a time stamp, E: through the exception hook
};

void TestRetourZender::initTestCase_data()
{
    QTest::addColumn<TestDatabaseServer::Kind>("kind");
    QTest::newRow("SQLite") << TestDatabaseServer::Kind::SQLite;
    QTest::newRow("PostgreSQL") << TestDatabaseServer::Kind::PostgreSQL;
}

void TestRetourZender::init()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, m_login);
    m_settings = Settings();
    m_settings.BSATerug = true;
    m_database = std::make_unique<Database>(TestDatabaseServer::loginFrom(m_login), m_dir.path());
    m_queueDir = std::make_unique<QTemporaryDir>();
    m_queue = std::make_unique<OutgoingQueue>(m_queueDir->path());
    m_queue->restore();
    m_builder = std::make_unique<StatusMessageBuilder>(*m_database, m_settings, *m_queue);
    m_zender = std::make_unique<RetourZender>(*m_database, m_settings, *m_builder, *m_queue);
    m_log.clear();
    connect(m_builder.get(), &StatusMessageBuilder::rawLogLine, this, [this](const QString &l) { m_log << "R:" + l; });
    connect(
        m_builder.get(), &StatusMessageBuilder::exceptionRaised, this, [this](const QString &l) { m_log << "E:" + l; });
    connect(m_zender.get(), &RetourZender::logLine, this, [this](const QString &l) { m_log << "L:" + l; });
    connect(m_zender.get(), &RetourZender::exceptionRaised, this, [this](const QString &l) { m_log << "E:" + l; });
}

void TestRetourZender::cleanup()
{
    // The server's database outlives the test (a SQLite file does not): take the refusal away again.
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind == TestDatabaseServer::Kind::PostgreSQL)
        refuseUpdates(false);
    m_zender.reset();
    m_builder.reset();
    m_queue.reset();
    m_database.reset();
}

int TestRetourZender::addRow(const ColumnValues &changes)
{
    QString error;
    const std::optional<int> id
        = PlanningRows::add(*m_database, PlanningRows::with(PlanningRows::deliveredRide(), changes), &error);
    if (!id)
        qFatal("cannot add a planning row: %s", qPrintable(error));
    return *id;
}

// A database that refuses every change of a planning row, as a planning side that locked its rows would.
void TestRetourZender::refuseUpdates(bool refuse)
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    QString error;
    bool done = true;
    if (kind == TestDatabaseServer::Kind::SQLite) {
        done = m_database
                   ->exec(refuse ? QStringLiteral("CREATE TRIGGER weiger BEFORE UPDATE ON planning BEGIN "
                                                  "SELECT RAISE(ABORT, 'planning is read-only'); END")
                                 : QStringLiteral("DROP TRIGGER IF EXISTS weiger"),
                       {}, &error)
                   .has_value();
    } else if (refuse) {
        done = TestDatabaseServer::runOnServer(
            { "CREATE FUNCTION weiger() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'planning is read-only'; "
              "END $$ LANGUAGE plpgsql",
                "CREATE TRIGGER weiger BEFORE UPDATE ON planning FOR EACH ROW EXECUTE FUNCTION weiger()" },
            &error);
    } else {
        done = TestDatabaseServer::runOnServer(
            { "DROP TRIGGER IF EXISTS weiger ON planning", "DROP FUNCTION IF EXISTS weiger()" }, &error);
    }
    QVERIFY2(done, qPrintable(error));
}

void TestRetourZender::takesOneWaitingBsaRideAtEachTick()
{
    const int first = addRow({ { "pla_extern_ritnummer", 801 } });
    const int otherOwner = addRow({ { "pla_extern_ritnummer", 802 }, { "pla_eigenaar", "020" } });
    const int second = addRow({ { "pla_extern_ritnummer", 803 } });
    const int notWaiting = addRow({ { "pla_extern_ritnummer", 804 }, { "pla_retour_rbs", 0 } });
    const int done = addRow({ { "pla_extern_ritnummer", 805 }, { "pla_retour_rbs", 2 } });
    const int noState
        = addRow({ { "pla_extern_ritnummer", 806 }, { "pla_retour_rbs", QVariant(QMetaType::fromType<int>()) } });
    const int third = addRow({ { "pla_extern_ritnummer", 807 } });

    // Each tick takes the oldest row still waiting, queues its message and marks it.
    const QList<QPair<int, QString>> expected { { first, "801" }, { second, "803" }, { third, "807" } };
    for (int tick = 0; tick < expected.size(); ++tick) {
        m_log.clear();
        m_zender->RetourZenderTimer();
        const auto &[id, ride] = expected.at(tick);
        QCOMPARE(m_log.size(), 2);
        QVERIFY(m_log.at(0).startsWith(QStringLiteral("R:BT\tBSA\t6\t") + ride + u'\t'));
        QCOMPARE(m_log.at(1), Verzonden + QString::number(id));
        QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));
        QCOMPARE(m_queue->lines().size(), tick + 1);
        QCOMPARE(rideOf(m_queue->lines().constLast()), ride);
    }
    m_log.clear();
    m_zender->RetourZenderTimer(); // nothing waits any more
    QCOMPARE(m_log, QStringList());
    QCOMPARE(m_queue->lines().size(), 3);
    QCOMPARE(PlanningRows::retourRbs(*m_database, otherOwner), QStringLiteral("1"));
    QCOMPARE(PlanningRows::retourRbs(*m_database, notWaiting), QStringLiteral("0"));
    QCOMPARE(PlanningRows::retourRbs(*m_database, done), QStringLiteral("2"));
    QCOMPARE(PlanningRows::retourRbs(*m_database, noState), QStringLiteral("NULL"));
}

void TestRetourZender::marksARideWithoutBsaRideNumberAsHandled()
{
    const int id = addRow({ { "pla_extern_ritnummer", 0 } });
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log, QStringList { Verzonden + QString::number(id) });
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));
    QVERIFY(m_queue->isEmpty());
}

void TestRetourZender::marksARowWhoseMessageCannotBeBuiltAsRefused()
{
    const int id = addRow({ { "pla_bedrag_1", QVariant::fromValue(Decimal { 9999999999, 2 }) } });
    const int next = addRow({ { "pla_extern_ritnummer", 901 } });
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.size(), 2);
    QVERIFY2(m_log.at(0).startsWith(QStringLiteral("E:Kolom pla_bedrag_1: ")), qPrintable(m_log.at(0)));
    QCOMPARE(m_log.at(1), Afgewezen + QString::number(id));
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("0"));
    QVERIFY(m_queue->isEmpty());
    m_zender->RetourZenderTimer(); // not taken again: the next tick goes on with the next row
    QCOMPARE(m_log.constLast(), Verzonden + QString::number(next));
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("0"));
}

void TestRetourZender::leavesRowsAloneWithFeedbackOff()
{
    const int id = addRow({});
    m_settings.BSATerug = false;
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log, QStringList());
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("1"));
    QVERIFY(m_queue->isEmpty());
}

void TestRetourZender::takesTheMessageBackWhenTheRowCannotBeMarked()
{
    const int id = addRow({});
    m_queue->append(QStringLiteral("4254")); // queued earlier: stays
    refuseUpdates(true);
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.size(), 3);
    QVERIFY(m_log.at(0).startsWith(QStringLiteral("R:BT\t")));
    QCOMPARE(m_log.at(1), QStringLiteral("L:D:-> RETOURMELDING INGETROKKEN - ") + QString::number(id));
    QVERIFY2(m_log.at(2).startsWith(QStringLiteral("E:")) && m_log.at(2).contains(QStringLiteral("read-only")),
        qPrintable(m_log.at(2)));
    QCOMPARE(m_queue->lines(), QStringList { "4254" });
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("1"));

    // Once the row can be marked, a later tick queues its message: the host hears of the ride once.
    refuseUpdates(false);
    m_log.clear();
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(), Verzonden + QString::number(id));
    QCOMPARE(m_queue->lines().size(), 2);
    QCOMPARE(rideOf(m_queue->lines().constLast()), QStringLiteral("812"));
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));
}

// Marked as handled while its message lived in memory only, a ride would be lost to the host at the next crash.
void TestRetourZender::leavesTheRowWaitingWhileTheQueueCannotBeSaved()
{
    QStringList queueLog;
    connect(m_queue.get(), &OutgoingQueue::logLine, this, [&queueLog](const QString &l) { queueLog << l; });
    const int id = addRow({});
    // A folder where the queue's file belongs: the file cannot be written.
    QVERIFY(QDir().mkpath(m_queue->fileName()));
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(), QStringLiteral("L:D:-> RETOURMELDING INGETROKKEN - ") + QString::number(id));
    QCOMPARE(queueLog.size(), 1);
    QVERIFY2(queueLog.constFirst().startsWith(QStringLiteral("Pakket UIT kan niet bewaard worden")),
        qPrintable(queueLog.constFirst()));
    QVERIFY(m_queue->isEmpty());
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("1"));

    QVERIFY(QDir(m_queue->fileName()).removeRecursively());
    m_log.clear();
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(), Verzonden + QString::number(id));
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));
    QFile file(m_queue->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(file.readAll()), m_queue->lines().constFirst() + QStringLiteral("\r\n"));
}

void TestRetourZender::reportsADatabaseThatCannotBeReached()
{
    m_login.server = QStringLiteral("postgresql:127.0.0.1:%1").arg(freeLoopbackPort());
    m_login.database = QStringLiteral("planning");
    m_database->close();
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.first().startsWith(QStringLiteral("E:")), qPrintable(m_log.first()));
    QVERIFY(m_queue->isEmpty());

    // No planning database set up at all is said once at start, not every 15 seconds here.
    m_log.clear();
    m_login.server.clear();
    m_zender->RetourZenderTimer();
    QVERIFY2(m_log.isEmpty(), qPrintable(m_log.join(u'|')));
}

// Two links on one database read the same waiting row; the one that marks it second must not send it as well.
void TestRetourZender::leavesARowThatAnotherLinkMarkedToThatLink()
{
    const int id = addRow({});
    const int next = addRow({ { "pla_extern_ritnummer", 901 } });
    m_queue->append(QStringLiteral("4254")); // queued earlier: stays
    // The other link, with its own connection, marks the row while this one builds its message.
    Database other(TestDatabaseServer::loginFrom(m_login), m_dir.path());
    bool marked = false;
    connect(m_queue.get(), &OutgoingQueue::appended, this, [&] {
        if (marked)
            return;
        QString error;
        marked = other.exec(QStringLiteral("UPDATE planning SET pla_retour_rbs = 2 WHERE pla_id = ?"), { id }, &error)
                     .has_value();
        QVERIFY2(marked, qPrintable(error));
    });
    m_zender->RetourZenderTimer();
    QVERIFY(marked);
    QCOMPARE(m_log.constLast(),
        QStringLiteral("L:D:-> RETOURMELDING DOOR ANDERE KOPPELING AFGEHANDELD - ") + QString::number(id));
    QVERIFY(!m_log.contains(Verzonden + QString::number(id)));
    QVERIFY2(!m_log.join(u'|').contains(QStringLiteral("E:")), qPrintable(m_log.join(u'|'))); // not an error
    QCOMPARE(m_queue->lines(), QStringList { "4254" });
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));

    // The link goes on with the next row.
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(), Verzonden + QString::number(next));
    QCOMPARE(m_queue->lines().size(), 2);
    QCOMPARE(rideOf(m_queue->lines().constLast()), QStringLiteral("901"));
}

void TestRetourZender::queuesNoSecondCopyOfAMessageOnItsWay_data()
{
    QTest::addColumn<bool>("sent"); // the earlier copy already left the queue during this run
    QTest::newRow("a copy still queued") << false;
    QTest::newRow("a copy sent since the start") << true;
}

// An earlier run queued the message and was killed before it marked the row: the row waits still.
void TestRetourZender::queuesNoSecondCopyOfAMessageOnItsWay()
{
    QFETCH(bool, sent);
    const int id = addRow({});
    QString earlier;
    QVERIFY(m_builder->MaakStatusmelding(id, &earlier));
    QVERIFY(!earlier.isEmpty());
    if (sent) {
        m_queue->removeFirst();
        m_zender->lineSent(earlier);
    }
    m_log.clear();
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(),
        QStringLiteral("L:D:-> RETOURMELDING AL IN PAKKET UIT OF VERZONDEN - ") + QString::number(id));
    QCOMPARE(m_queue->lines(), sent ? QStringList() : QStringList { earlier });
    QCOMPARE(PlanningRows::retourRbs(*m_database, id), QStringLiteral("2"));

    // A message of another ride is not taken for a copy.
    const int other = addRow({ { "pla_extern_ritnummer", 901 } });
    m_zender->RetourZenderTimer();
    QCOMPARE(m_log.constLast(), Verzonden + QString::number(other));
    QCOMPARE(rideOf(m_queue->lines().constLast()), QStringLiteral("901"));
}

QTEST_GUILESS_MAIN(TestRetourZender)
#include "TestRetourZender.moc"

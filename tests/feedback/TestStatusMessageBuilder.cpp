#include <memory>

#include <QSignalSpy>
#include <QtTest>

#include "codec/Envelope.h"
#include "feedback/OutgoingQueue.h"
#include "feedback/StatusMessageBuilder.h"
#include "platform/Database.h"
#include "settings/Settings.h"
#include "tests/support/FreePort.h"
#include "tests/support/PlanningRows.h"
#include "tests/support/TestDatabaseServer.h"

Q_DECLARE_METATYPE(TestDatabaseServer::Kind)

// The status message of a real planning row, on SQLite and on PostgreSQL: which fields it carries, what the log
// and the outgoing queue get, and the rows that get no message.
namespace {
const QString Zero = QStringLiteral("189912300000");

// The fields of the worked example's message, field k at index k - 1.
QStringList workedExample()
{
    return { "BT", "BSA", "6", "812", "201101091405", "", "17", "", "O", Zero, "0.0", "0.0", Zero, "201101091430", "0",
        "0.0", "0.0", "0", "0000", "201101091435", "0", "0.0", "0.0", Zero, "T", "1", "0.0", "0.0", "2350", "42" };
}

// The worked example with fields changed: {field number, value}.
QStringList workedExampleWith(const QList<QPair<int, QString>> &changes)
{
    QStringList fields = workedExample();
    for (const auto &[number, value] : changes)
        fields[number - 1] = value;
    return fields;
}

QString asText(const QStringList &fields)
{
    QString text;
    for (const QString &field : fields)
        text += field + QLatin1Char('\t');
    return text;
}
} // namespace

class TestStatusMessageBuilder final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void buildsTheMessageOfARow_data();
    void buildsTheMessageOfARow();
    void doesNothingWithFeedbackOff();
    void reportsARowThatCannotBeRead();
    void reportsADatabaseThatCannotBeReached();

private:
    QTemporaryDir m_dir;
    DatabaseLogin m_login;
    Settings m_settings;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<QTemporaryDir> m_queueDir; // a queue of its own for every test
    std::unique_ptr<OutgoingQueue> m_queue;
    std::unique_ptr<StatusMessageBuilder> m_builder;
    QStringList m_log; // R: without a time stamp, E: through the exception hook
};

void TestStatusMessageBuilder::initTestCase_data()
{
    QTest::addColumn<TestDatabaseServer::Kind>("kind");
    QTest::newRow("SQLite") << TestDatabaseServer::Kind::SQLite;
    QTest::newRow("PostgreSQL") << TestDatabaseServer::Kind::PostgreSQL;
}

void TestStatusMessageBuilder::init()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, m_login);
    m_settings = Settings();
    m_settings.BSATerug = true;
    m_settings.BSABedrijf = QStringLiteral("42");
    m_database = std::make_unique<Database>(TestDatabaseServer::loginFrom(m_login), m_dir.path());
    m_queueDir = std::make_unique<QTemporaryDir>();
    m_queue = std::make_unique<OutgoingQueue>(m_queueDir->path());
    m_queue->restore();
    m_builder = std::make_unique<StatusMessageBuilder>(*m_database, m_settings, *m_queue);
    m_log.clear();
    connect(m_builder.get(), &StatusMessageBuilder::rawLogLine, this, [this](const QString &l) { m_log << "R:" + l; });
    connect(
        m_builder.get(), &StatusMessageBuilder::exceptionRaised, this, [this](const QString &l) { m_log << "E:" + l; });
}

void TestStatusMessageBuilder::cleanup()
{
    m_builder.reset();
    m_queue.reset();
    m_database.reset();
}

void TestStatusMessageBuilder::buildsTheMessageOfARow_data()
{
    QTest::addColumn<ColumnValues>("changes"); // to the worked example's row
    QTest::addColumn<QString>("bsaBedrijf");
    QTest::addColumn<QStringList>("fields"); // none: the row gets no message
    const QVariant nullDateTime = PlanningRows::nullOf(QMetaType::fromType<QDateTime>());
    const QVariant nullText = PlanningRows::nullOf(QMetaType::fromType<QString>());
    const QVariant nullInt = PlanningRows::nullOf(QMetaType::fromType<int>());
    const auto amount = [](qint64 cents) { return QVariant::fromValue(Decimal { cents, 2 }); };

    QTest::newRow("the worked example") << ColumnValues() << "42" << workedExample();
    QTest::newRow("a lower-case l is not delivered")
        << ColumnValues { { "pla_status", "l" } } << "42" << workedExampleWith({ { 25, "F" }, { 26, "0" } });
    QTest::newRow("another status is not delivered")
        << ColumnValues { { "pla_status", "W" } } << "42" << workedExampleWith({ { 25, "F" }, { 26, "0" } });
    QTest::newRow("no status is not delivered")
        << ColumnValues { { "pla_status", nullText } } << "42" << workedExampleWith({ { 25, "F" }, { 26, "0" } });
    QTest::newRow("one cent") << ColumnValues { { "pla_bedrag_1", amount(1) } } << "42"
                              << workedExampleWith({ { 29, "1" } });
    QTest::newRow("no amount at all") << ColumnValues { { "pla_bedrag_1", amount(0) } } << "42"
                                      << workedExampleWith({ { 29, "0" } });
    QTest::newRow("a negative amount") << ColumnValues { { "pla_bedrag_1", amount(-1250) } } << "42"
                                       << workedExampleWith({ { 29, "-1250" } });
    QTest::newRow("a NULL amount is 0 cents")
        << ColumnValues { { "pla_bedrag_1", nullText } } << "42" << workedExampleWith({ { 29, "0" } });
    QTest::newRow("a NULL destination time is the zero date-time")
        << ColumnValues { { "pla_tijdstip_bestemmen", nullDateTime } } << "42" << workedExampleWith({ { 14, Zero } });
    QTest::newRow("no times at all") << ColumnValues { { "pla_tijdstip_toewijzen", nullDateTime },
        { "pla_tijdstip_bestemmen", nullDateTime }, { "pla_tijdstip_vrijmelden", nullDateTime } }
                                     << "42" << workedExampleWith({ { 5, Zero }, { 14, Zero }, { 20, Zero } });
    QTest::newRow("no vehicle is vehicle 0")
        << ColumnValues { { "pla_wagen", nullInt } } << "42" << workedExampleWith({ { 7, "0" } });
    QTest::newRow("a company number followed by letters")
        << ColumnValues() << "12ab" << workedExampleWith({ { 30, "12" } });
    QTest::newRow("an empty company number is 0") << ColumnValues() << "" << workedExampleWith({ { 30, "0" } });
    QTest::newRow("a company number with a sign") << ColumnValues() << " -7" << workedExampleWith({ { 30, "-7" } });
    QTest::newRow("a ride without a BSA ride number gets no message")
        << ColumnValues { { "pla_extern_ritnummer", 0 } } << "42" << QStringList();
    QTest::newRow("a NULL ride number gets no message")
        << ColumnValues { { "pla_extern_ritnummer", nullInt } } << "42" << QStringList();
    QTest::newRow("a negative ride number gets no message")
        << ColumnValues { { "pla_extern_ritnummer", -5 } } << "42" << QStringList();
}

void TestStatusMessageBuilder::buildsTheMessageOfARow()
{
    QFETCH(ColumnValues, changes);
    QFETCH(QString, bsaBedrijf);
    QFETCH(QStringList, fields);
    m_settings.BSABedrijf = bsaBedrijf;
    QString error;
    const std::optional<int> id
        = PlanningRows::add(*m_database, PlanningRows::with(PlanningRows::deliveredRide(), changes), &error);
    QVERIFY2(id, qPrintable(error));
    m_queue->append(QStringLiteral("4254")); // a line queued earlier stays first

    QString queued;
    QVERIFY(m_builder->MaakStatusmelding(*id, &queued));
    if (fields.isEmpty()) {
        QCOMPARE(m_log, QStringList());
        QCOMPARE(queued, QString());
        QCOMPARE(m_queue->lines(), QStringList { "4254" });
        return;
    }
    const QString text = asText(fields);
    QCOMPARE(m_log, QStringList { "R:" + text });
    QCOMPARE(queued, QString::fromLatin1(TekstNaarHex(text)));
    QCOMPARE(m_queue->lines(), QStringList({ "4254", queued }));
    QCOMPARE(HexNaarTekst(queued.toLatin1()).count(QLatin1Char('\t')), 30);
    QCOMPARE(PlanningRows::retourRbs(*m_database, *id), QStringLiteral("1")); // marking is the caller's
}

void TestStatusMessageBuilder::doesNothingWithFeedbackOff()
{
    QString error;
    const std::optional<int> id = PlanningRows::add(*m_database, PlanningRows::deliveredRide(), &error);
    QVERIFY2(id, qPrintable(error));
    m_settings.BSATerug = false;
    QVERIFY(!m_builder->MaakStatusmelding(*id));
    QCOMPARE(m_log, QStringList());
    QVERIFY(m_queue->isEmpty());
    // A row that does not exist is no failure.
    m_settings.BSATerug = true;
    QVERIFY(m_builder->MaakStatusmelding(*id + 1000));
    QCOMPARE(m_log, QStringList());
    QVERIFY(m_queue->isEmpty());
}

void TestStatusMessageBuilder::reportsARowThatCannotBeRead()
{
    // An amount whose cents do not fit in the message: a conversion that fails.
    QString error;
    const std::optional<int> id = PlanningRows::add(*m_database,
        PlanningRows::with(
            PlanningRows::deliveredRide(), { { "pla_bedrag_1", QVariant::fromValue(Decimal { 9999999999, 2 }) } }),
        &error);
    QVERIFY2(id, qPrintable(error));
    QString queued = QStringLiteral("<not cleared>");
    QVERIFY(!m_builder->MaakStatusmelding(*id, &queued));
    QCOMPARE(queued, QString());
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.first().startsWith(QStringLiteral("E:Kolom pla_bedrag_1: ")), qPrintable(m_log.first()));
    QVERIFY(m_queue->isEmpty());
}

void TestStatusMessageBuilder::reportsADatabaseThatCannotBeReached()
{
    m_login.server = QStringLiteral("postgresql:127.0.0.1:%1").arg(freeLoopbackPort());
    m_login.database = QStringLiteral("planning");
    m_database->close();
    QVERIFY(!m_builder->MaakStatusmelding(1));
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.first().startsWith(QStringLiteral("E:")), qPrintable(m_log.first()));
    QVERIFY(m_queue->isEmpty());
}

QTEST_GUILESS_MAIN(TestStatusMessageBuilder)
#include "TestStatusMessageBuilder.moc"

#include <memory>

#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "intake/RideIntake.h"
#include "intake/ServerLifecycle.h"
#include "platform/BSAConnection.h"
#include "platform/BSAServer.h"
#include "platform/Database.h"
#include "settings/Settings.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestDatabaseServer.h"
#include "tests/support/UnixOnly.h"

Q_DECLARE_METATYPE(TestDatabaseServer::Kind)

// Ride messages from a BSA peer over real loopback TCP into a real planning database: what is stored,
// journalled, answered and logged. Every test runs on SQLite and on PostgreSQL.
namespace {
const QString Tab = QStringLiteral("\t");

// A ride message as BSA sends one: 75 fields, field k at index k - 1.
QStringList defaultFields()
{
    QStringList f(75, QString());
    f[0] = "BN", f[1] = "BSA", f[2] = "6", f[5] = "4711", f[6] = "0", f[7] = "PRJ1", f[8] = "LOC1";
    f[9] = "201101091405", f[11] = "201101091350", f[12] = "J. Jansen", f[13] = "201234567";
    for (int k : { 15, 16, 17, 18, 26, 58, 70, 71, 72, 73, 74, 75 })
        f[k - 1] = "0";
    f[18] = "Amsterdam", f[19] = "1234AB", f[20] = "Dorpsstraat", f[21] = "12";
    f[26] = "Utrecht", f[27] = "3511AB", f[28] = "Stationsplein", f[29] = "1";
    f[33] = "1", f[34] = "0", f[35] = "12345", f[36] = "701", f[37] = "2", f[38] = "12.5";
    f[39] = "Rolstoel mee", f[40] = "T";
    for (int k = 42; k <= 57; ++k)
        f[k - 1] = "N";
    f[51] = "J"; // low entry
    f[58] = "CONTANT";
    for (int k = 60; k <= 63; ++k)
        f[k - 1] = "N";
    return f;
}

QString bericht(const QMap<int, QString> &anders = {}, int velden = 75)
{
    QStringList fields = defaultFields();
    for (auto it = anders.cbegin(); it != anders.cend(); ++it)
        fields[it.key() - 1] = it.value();
    return fields.mid(0, velden).join(Tab);
}

QByteArray hex(const QString &text)
{
    return text.toLatin1().toHex().toUpper();
}

QByteArray envelop(const QString &text)
{
    return "<ZORVAN>" + hex(text) + "<EINDE>";
}

QString antwoordTekst(const QString &soort, int ritnummer)
{
    return soort + "\tBSA\t6\t" + QString::number(ritnummer) + Tab;
}

// The lines every message that parses gets first; L: with a time stamp, R: without one.
QStringList binnen(const QString &text, int ritnummer, const QString &soort)
{
    QString shown = text;
    shown.replace(Tab, QStringLiteral(",")).replace(QStringLiteral("\x1bLF"), QStringLiteral("#CRLF#"));
    return { "L:SI: " + QString::fromLatin1(envelop(text)), "R:SI: " + shown,
        "L:00: PAKKET RITNUMMER = " + QString::number(ritnummer), "L:00: PAKKET SOORT = " + soort };
}

QString co(const QString &soort, int ritnummer)
{
    return "L:CO: " + QString::fromLatin1(envelop(antwoordTekst(soort, ritnummer)));
}

QStringList algemeenNegatief()
{
    return { co("NC", 0), "L:<NACK - RIT NIET GEVONDEN>" };
}

// A column value as the same text on every database: dates as wall-clock text, amounts with two decimals.
QString alsTekst(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.metaType() == QMetaType::fromType<QDateTime>())
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (value.metaType() == QMetaType::fromType<double>())
        return QString::number(value.toDouble(), 'f', 2);
    return value.toString();
}

// Another program's write lock on the planning table, held until release(): on SQLite a write transaction on the
// file, on PostgreSQL an exclusive table lock (plain reads go on).
class LockHolder
{
public:
    ~LockHolder()
    {
        release();
        QSqlDatabase::removeDatabase(Name);
    }

    bool take(TestDatabaseServer::Kind kind, const DatabaseLogin &login, QString *error)
    {
        QSqlDatabase db;
        QStringList statements;
        if (kind == TestDatabaseServer::Kind::SQLite) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
            db.setDatabaseName(login.server.mid(int(qstrlen("sqlite:"))));
            statements << QStringLiteral("BEGIN IMMEDIATE");
        } else {
            const TestDatabaseServer::Facts server = TestDatabaseServer::facts();
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), Name);
            db.setHostName(server.host);
            db.setPort(server.port);
            db.setDatabaseName(TestDatabaseServer::databaseName());
            db.setUserName(server.user);
            db.setPassword(server.password);
            statements << QStringLiteral("BEGIN") << QStringLiteral("LOCK TABLE planning IN EXCLUSIVE MODE");
        }
        if (!db.open()) {
            *error = db.lastError().text();
            return false;
        }
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!query.exec(statement)) {
                *error = statement + QStringLiteral(": ") + query.lastError().text();
                return false;
            }
        }
        m_held = true;
        return true;
    }

    bool release()
    {
        if (!m_held)
            return true;
        m_held = false;
        QSqlDatabase db = QSqlDatabase::database(Name, false);
        const bool committed = QSqlQuery(db).exec(QStringLiteral("COMMIT"));
        db.close();
        return committed;
    }

private:
    static inline const QString Name = QStringLiteral("lock-holder");
    bool m_held = false;
};

// The ride numbers of the answers in `received`, "AC 4711" or "NC 0", in the order they came.
QStringList answersIn(const QByteArray &received)
{
    QStringList answers;
    qsizetype from = 0;
    while ((from = received.indexOf("<ZORVAN>", from)) >= 0) {
        const qsizetype end = received.indexOf("<EINDE>", from);
        if (end < 0)
            break;
        const QStringList fields
            = QString::fromLatin1(QByteArray::fromHex(received.mid(from + 8, end - from - 8))).split(QLatin1Char('\t'));
        answers << fields.value(0) + QLatin1Char(' ') + fields.value(3);
        from = end;
    }
    return answers;
}
} // namespace

class TestRideIntake final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void handlesEachKindOfMessage_data();
    void handlesEachKindOfMessage();
    void refusesAPayloadThatHoldsNoHexadecimalDigit_data();
    void refusesAPayloadThatHoldsNoHexadecimalDigit();
    void storesEveryColumnOfANewRideAndItsChange();
    void answersWithCrLfWhenTheSettingIsOnAtThatMoment();
    void answersEveryEnvelopeOfAConnectionInOrder_data();
    void answersEveryEnvelopeOfAConnectionInOrder();
    void keepsInterleavedConnectionsApart();
    void answersNcZeroWhenTheDatabaseIsDown();
    void refusesARideWhoseJournalCannotBeWritten();
    void answersNcZeroAndJournalsNothingWhenTheRowCannotBeWritten_data();
    void answersNcZeroAndJournalsNothingWhenTheRowCannotBeWritten();
    void showsTheFieldsOfTheLastMessage();
    void storesTheRidesOfABatchAsIfEachCameAlone_data();
    void storesTheRidesOfABatchAsIfEachCameAlone();
    void waitsForALockHeldByAnotherProgram();
    void refusesWhenTheLockOutlastsTheBound();
    void storesTheRideOfAConnectionThatClosedWhileItWaited();
    void servesAnotherConnectionWhileOneFloods();
    void holdsBackAConnectionThatSendsFasterThanTheDatabaseStores_data();
    void holdsBackAConnectionThatSendsFasterThanTheDatabaseStores();
    void storesTheNextRideInTheFileNowAtThePath();
    void refusesPromptlyWhileTheServerIsPaused();
    void triesAnUnreachableDatabaseOncePerBatch();
    void refusesTheBatchWhoseStatementOutlastsItsBound();

private:
    // Writes each part with a pause between, and returns what came back once `answers` answers arrived or `waitMs`
    // passed.
    QByteArray exchange(QTcpSocket &peer, const QByteArrayList &parts, int answers, int waitMs = 5000);
    void addPlanningRow(const QString &rij); // "ritnummer|status|route|temp", NULL for a null value
    QStringList rows(const QString &sql);
    void refuseRide(int ritnummer); // the database refuses to insert a new row with this ride number

    QTemporaryDir m_dir;
    DatabaseLogin m_login;
    Settings m_settings;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<BSAServer> m_server;
    std::unique_ptr<RideIntake> m_intake;
    QStringList m_log;
    QStringList m_pakketIn;
};

void TestRideIntake::initTestCase_data()
{
    QTest::addColumn<TestDatabaseServer::Kind>("kind");
    QTest::newRow("SQLite") << TestDatabaseServer::Kind::SQLite;
    QTest::newRow("PostgreSQL") << TestDatabaseServer::Kind::PostgreSQL;
    QTest::newRow("ODBC") << TestDatabaseServer::Kind::Odbc;
}

void TestRideIntake::init()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, m_login);
    m_settings = Settings();
    m_settings.Gebruiker = QStringLiteral("12x");
    m_database = std::make_unique<Database>(TestDatabaseServer::loginFrom(m_login), m_dir.path());
    QString error;
    QVERIFY2(m_database->open(&error), qPrintable(error));

    m_server = std::make_unique<BSAServer>();
    m_server->setPort(0);
    QVERIFY2(m_server->setActive(true, &error), qPrintable(error));
    m_intake = std::make_unique<RideIntake>(*m_database, m_settings);
    connect(m_server.get(), &BSAServer::envelopeReceived, m_intake.get(), &RideIntake::BSAServerClientRead);

    m_log.clear();
    m_pakketIn = QStringList { "<never shown>" };
    connect(m_intake.get(), &RideIntake::logLine, this, [this](const QString &line) { m_log << "L:" + line; });
    connect(m_intake.get(), &RideIntake::rawLogLine, this, [this](const QString &line) { m_log << "R:" + line; });
    connect(m_intake.get(), &RideIntake::exceptionRaised, this, [this](const QString &line) { m_log << "E:" + line; });
    connect(m_intake.get(), &RideIntake::pakketIn, this, [this](const QStringList &fields) { m_pakketIn = fields; });
}

void TestRideIntake::cleanup()
{
    m_intake.reset();
    m_server.reset();
    m_database.reset();
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind != TestDatabaseServer::Kind::SQLite) {
        // The server's database outlives the test: take away what a test put in the way of the next one.
        QString error;
        QVERIFY2(TestDatabaseServer::runOnServer({ QStringLiteral("DROP TRIGGER IF EXISTS weiger ON planning"),
                                                     QStringLiteral("DROP FUNCTION IF EXISTS weiger()"),
                                                     QStringLiteral("DROP SEQUENCE IF EXISTS weiger_calls") },
                     &error),
            qPrintable(error));
    }
}

QByteArray TestRideIntake::exchange(QTcpSocket &peer, const QByteArrayList &parts, int answers, int waitMs)
{
    QByteArray received;
    for (const QByteArray &part : parts) {
        peer.write(part);
        peer.flush();
        QTest::qWait(20); // lets the server read each part on its own
    }
    (void)QTest::qWaitFor(
        [&] {
            received += peer.readAll();
            return received.count("<EINDE>") >= answers;
        },
        waitMs);
    QTest::qWait(0);
    return received + peer.readAll();
}

void TestRideIntake::addPlanningRow(const QString &rij)
{
    const QStringList values = rij.split(QLatin1Char('|'));
    const auto tekst = [](const QString &v) {
        return v == QLatin1String("NULL") ? QVariant(QMetaType::fromType<QString>()) : QVariant(v);
    };
    const auto getal = [](const QString &v) {
        return v == QLatin1String("NULL") ? QVariant(QMetaType::fromType<int>()) : QVariant(v.toInt());
    };
    QString error;
    QVERIFY2(m_database->exec(QStringLiteral("INSERT INTO planning (pla_extern_ritnummer, pla_status, pla_route, "
                                             "pla_temp, pla_opmerking, pla_spoed, pla_eigenaar, pla_bdr_id) "
                                             "VALUES (?, ?, ?, ?, 'oud', 0, '999', 77)"),
                 { getal(values.at(0)), tekst(values.at(1)), getal(values.at(2)), tekst(values.at(3)) }, &error),
        qPrintable(error));
}

QStringList TestRideIntake::rows(const QString &sql)
{
    QString error;
    const std::optional<QueryResult> result = m_database->exec(sql, {}, &error);
    if (!result)
        return { "error: " + error };
    QStringList lines;
    for (const QVariantList &row : result->rows) {
        QStringList values;
        for (const QVariant &value : row)
            values << alsTekst(value);
        lines << values.join(QLatin1Char('|'));
    }
    return lines;
}

void TestRideIntake::handlesEachKindOfMessage_data()
{
    QTest::addColumn<QStringList>("bestaand"); // planning rows before the message
    QTest::addColumn<QString>("tekst");
    QTest::addColumn<QString>("antwoord"); // the answer's text; empty when none may come
    QTest::addColumn<QStringList>("regels");
    QTest::addColumn<QStringList>("planning");
    QTest::addColumn<QStringList>("journaal");

    const QString rit = bericht();
    const QString geannuleerd = bericht({ { 1, "BV" } });
    const QStringList nieuw = binnen(rit, 4711, "BN");
    const QStringList annulering = binnen(geannuleerd, 4711, "BV");
    const QStringList geweigerd = nieuw
        + QStringList { "L:<BN - BESTAAT NIET MEER, TOEGEWEZEN OF IN ROUTE>", co("NC", 4711),
              "L:<NACK - (BN) NIET VERWERKT>" };
    const QStringList gewijzigd
        = nieuw + QStringList { "L:<BN - UPDATE RIT>", co("AC", 4711), "L:<ACK - (BN) VERWERKT>" };

    QTest::newRow("a new ride is stored, journalled once and acknowledged")
        << QStringList() << rit << antwoordTekst("AC", 4711)
        << nieuw + QStringList { "L:<BN - NIEUWE RIT>", co("AC", 4711), "L:<ACK - (BN) VERWERKT>" }
        << QStringList { "4711|W|0|J. Jansen|0|010|1" } << QStringList { "12|1|91|" };
    QTest::newRow("a waiting ride without a route is changed and journalled twice")
        << QStringList { "4711|W|0|Pold" } << rit << antwoordTekst("AC", 4711) << gewijzigd
        << QStringList { "4711|W|0|J. Jansen|0|010|77" } << QStringList { "12|1|92|", "12|1|92|" };
    QTest::newRow("a waiting ride with no route at all is changed")
        << QStringList { "4711|W|NULL|Pold" } << rit << antwoordTekst("AC", 4711) << gewijzigd
        << QStringList { "4711|W|NULL|J. Jansen|0|010|77" } << QStringList { "12|1|92|", "12|1|92|" };
    QTest::newRow("of two rows with the ride number only the first is changed")
        << QStringList { "4711|W|0|Pold1", "4711|W|0|Pold2" } << rit << antwoordTekst("AC", 4711) << gewijzigd
        << QStringList { "4711|W|0|J. Jansen|0|010|77", "4711|W|0|oud|0|999|77" }
        << QStringList { "12|1|92|", "12|1|92|" };
    QTest::newRow("a changed row without a key is journalled once and never under another ride")
        << QStringList { "4711|W|0|", "99|W|0|" } << rit << antwoordTekst("AC", 4711) << gewijzigd
        << QStringList { "4711|W|0|J. Jansen|0|010|77", "99|W|0|oud|0|999|77" } << QStringList { "12|1|92|" };
    QTest::newRow("a planned ride is refused and left as it was")
        << QStringList { "4711|P|0|Pold" } << rit << antwoordTekst("NC", 4711) << geweigerd
        << QStringList { "4711|P|0|oud|0|999|77" } << QStringList();
    QTest::newRow("a waiting ride on a route is refused")
        << QStringList { "4711|W|3|Pold" } << rit << antwoordTekst("NC", 4711) << geweigerd
        << QStringList { "4711|W|3|oud|0|999|77" } << QStringList();
    QTest::newRow("a ride without a status is refused")
        << QStringList { "4711|NULL|0|Pold" } << rit << antwoordTekst("NC", 4711) << geweigerd
        << QStringList { "4711|NULL|0|oud|0|999|77" } << QStringList();
    QTest::newRow("a cancellation marks the ride as cancelled and journals it")
        << QStringList { "4711|P|5|Pold" } << geannuleerd << antwoordTekst("AC", 4711)
        << annulering + QStringList { "L:<VR>4711", co("AC", 4711), "L:<ACK - (VR) VERWERKT>" }
        << QStringList { "4711|P|5|(VERWIJDERD DOOR OPDRACHTGEVER)|1|010|77" } << QStringList { "12|1|93|" };
    QTest::newRow("a cancellation of an unknown ride is acknowledged and changes nothing")
        << QStringList { "99|W|0|Pold" } << geannuleerd << antwoordTekst("AC", 4711)
        << annulering + QStringList { "L:<VR>4711", co("AC", 4711), "L:<ACK - (VR) VERWERKT>" }
        << QStringList { "99|W|0|oud|0|999|77" } << QStringList();
    QTest::newRow("a kind in lower case gets no answer and changes nothing")
        << QStringList { "4711|W|0|Pold" } << bericht({ { 1, "bn" } }) << QString()
        << binnen(bericht({ { 1, "bn" } }), 4711, "bn") << QStringList { "4711|W|0|oud|0|999|77" } << QStringList();
    QTest::newRow("an unknown kind gets no answer")
        << QStringList() << bericht({ { 1, "VR" } }) << QString() << binnen(bericht({ { 1, "VR" } }), 4711, "VR")
        << QStringList() << QStringList();
    QTest::newRow("a message of 58 fields gets the general negative answer")
        << QStringList { "4711|W|0|Pold" } << bericht({}, 58) << antwoordTekst("NC", 0)
        << QStringList { "L:SI: " + QString::fromLatin1(envelop(bericht({}, 58))) } + algemeenNegatief()
        << QStringList { "4711|W|0|oud|0|999|77" } << QStringList();
    QTest::newRow("a ride number that is no number gets the general negative answer")
        << QStringList { "0|W|0|Pold" } << bericht({ { 6, "abc" } }) << antwoordTekst("NC", 0)
        << binnen(bericht({ { 6, "abc" } }), 0, "BN") + algemeenNegatief() << QStringList { "0|W|0|oud|0|999|77" }
        << QStringList();
    QTest::newRow("a cancellation of ride number 0 cancels nothing")
        << QStringList { "0|W|0|Pold" } << bericht({ { 1, "BV" }, { 6, "0" } }) << antwoordTekst("NC", 0)
        << binnen(bericht({ { 1, "BV" }, { 6, "0" } }), 0, "BV") + algemeenNegatief()
        << QStringList { "0|W|0|oud|0|999|77" } << QStringList();
    QTest::newRow("a negative ride number gets the general negative answer")
        << QStringList { "-3|W|0|Pold" } << bericht({ { 6, "-3" } }) << antwoordTekst("NC", 0)
        << binnen(bericht({ { 6, "-3" } }), -3, "BN") + algemeenNegatief() << QStringList { "-3|W|0|oud|0|999|77" }
        << QStringList();
}

void TestRideIntake::handlesEachKindOfMessage()
{
    QFETCH(QStringList, bestaand);
    QFETCH(QString, tekst);
    QFETCH(QString, antwoord);
    QFETCH(QStringList, regels);
    QFETCH(QStringList, planning);
    QFETCH(QStringList, journaal);
    for (const QString &rij : bestaand)
        addPlanningRow(rij);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);

    // A cancellation of a ride nobody has follows, so that a missing answer shows as the wrong answer.
    const QString volgend = bericht({ { 1, "BV" }, { 6, "5" } });
    const QByteArray expected
        = (antwoord.isEmpty() ? QByteArray() : envelop(antwoord)) + envelop(antwoordTekst("AC", 5));
    QCOMPARE(exchange(*peer, { envelop(tekst) + envelop(volgend) }, antwoord.isEmpty() ? 1 : 2), expected);

    const qsizetype probe = m_log.indexOf("L:SI: " + QString::fromLatin1(envelop(volgend)));
    QVERIFY(probe >= 0);
    QCOMPARE(m_log.mid(0, probe), regels);
    QCOMPARE(rows("SELECT pla_extern_ritnummer, pla_status, pla_route, pla_opmerking, pla_spoed, pla_eigenaar, "
                  "pla_bdr_id FROM planning ORDER BY pla_id"),
        planning);
    QCOMPARE(rows("SELECT tra_gebruiker, tra_rit, tra_code, tra_opmerking FROM TRANSACTIES ORDER BY tra_id"), journaal);
}

void TestRideIntake::refusesAPayloadThatHoldsNoHexadecimalDigit_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("position"); // of the first character that is no digit, from 1; 0 when it is stored
    const QByteArray ride = hex(bericht());
    const qsizetype name = ride.indexOf(hex(QStringLiteral("J. Jansen")));
    QByteArray zInName = ride;
    zInName[name + 1] = 'Z'; // "4A" became "ZA", which used to decode as a line feed
    QTest::newRow("a Z in a name") << zInName << int(name + 2);
    QTest::newRow("a space between two digits") << ride.left(10) + ' ' + ride.mid(10) << 11;
    QTest::newRow("a line break inside the digits") << ride.left(20) + "\r\n" + ride.mid(20) << 21;
    QTest::newRow("a G as the odd last digit") << ride + 'G' << int(ride.size() + 1);
    QTest::newRow("a byte beyond ASCII") << "\xC3" + ride.mid(1) << 1;
    QTest::newRow("lower-case digits are hexadecimal too") << ride.toLower() << 0;
    QTest::newRow("an odd last digit is ignored") << ride + '4' << 0;
}

void TestRideIntake::refusesAPayloadThatHoldsNoHexadecimalDigit()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, position);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    const QByteArray envelope = "<ZORVAN>" + payload + "<EINDE>";
    const QByteArray answer = exchange(*peer, { envelope }, 1);
    if (position == 0) {
        QCOMPARE(answer, envelop(antwoordTekst("AC", 4711)));
        QCOMPARE(
            rows("SELECT pla_extern_ritnummer, pla_naam_reiziger FROM planning"), QStringList { "4711|J. Jansen" });
        return;
    }
    QCOMPARE(answer, envelop(antwoordTekst("NC", 0)));
    const QStringList expected = QStringList { "L:SI: " + QString::fromLatin1(envelope),
        QStringLiteral("L:SI: GEEN HEXADECIMAAL CIJFER OP POSITIE %1, BERICHT GEWEIGERD").arg(position) }
        + algemeenNegatief();
    QCOMPARE(m_log, expected);
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning"), QStringList());
    QCOMPARE(rows("SELECT tra_rit FROM TRANSACTIES"), QStringList());
}

void TestRideIntake::storesEveryColumnOfANewRideAndItsChange()
{
    m_settings.BSA_BDR = QStringLiteral("21");
    m_settings.BSA_DEB = QStringLiteral("22");
    m_settings.BSA_Tarief = QStringLiteral("23");
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    const QString rit = bericht({ { 7, "987654" }, { 13, "de Vries, A_B" }, { 22, "12-14 achter" }, { 35, "1" },
        { 47, "J" }, { 51, "T" }, { 68, "Bel aan\x1bLFAchterdeur" }, { 69, "F7" }, { 75, "2" } });
    QCOMPARE(exchange(*peer, { envelop(rit) }, 1), envelop(antwoordTekst("AC", 4711)));
    QVERIFY(m_log.contains("L:AAN: Bel aan#CRLF#Achterdeur"));
    QCOMPARE(m_log.indexOf("L:AAN: Bel aan#CRLF#Achterdeur") + 1, m_log.indexOf("L:<BN - NIEUWE RIT>"));

    const QString columns = QStringLiteral(
        "pla_soortvervoer, pla_eigenaar, pla_bdr_id, pla_reiziger, pla_tarief_bedrijf, pla_pasnummer, "
        "pla_extern_projectnummer, pla_extern_locatie, pla_datum, pla_tijdstip, pla_tijdstip_locatie, "
        "pla_naam_reiziger, pla_lopers, pla_rollers, pla_bedrag, pla_bedrag_3, pla_bedrag_5, pla_zone_aantal, "
        "pla_km_sqr, pla_km_map, pla_rc, pla_extern_ritnummer, pla_extern, pla_ophpostcode, pla_ophstraat, "
        "pla_ophnummer, pla_ophstad, pla_bestpostcode, pla_besstraat, pla_bestnummer, pla_zone_van, pla_zone_naar, "
        "pla_beststad, pla_soortrit, pla_filter, pla_opmerking, pla_combineren, pla_rolstoel, pla_soortwagen, "
        "pla_spoed, pla_telefoon, pla_status, pla_route, pla_retour_rbs");
    const QStringList vast { "P", "010", "21", "22", "23", "987654", "PRJ1", "LOC1", "2011-01-09 14:05:00",
        "2011-01-09 14:05:00", "2011-01-09 13:50:00", "de Vries, A_B", "1", "1", "123.45", "123.45", "7.01", "2",
        "12.50", "12.50", "0", "4711", "4711", "1234 AB", "Dorpsstraat", "12-14 ", "Amsterdam", "3511 AB",
        "Stationsplein", "1", "0", "0", "Utrecht", "S", "P", "de Vries, A_B", "1", "1", "R", "1", "0201234567", "W",
        "0", "0" };
    QCOMPARE(rows("SELECT " + columns + " FROM planning").value(0).split(QLatin1Char('|')), vast);
    QCOMPARE(rows("SELECT pla_tekst FROM planning"),
        QStringList { "Rolstoel mee\r\nExtra beenruimte\r\nFactuurcode: F7\r\nBel aan\r\nAchterdeur"
                      "\r\nLAGE INSTAP = JA\r\nAFREKENWIJZE= CONTANT" });
    const QStringList sleutel = rows("SELECT pla_temp FROM planning");
    QVERIFY2(QRegularExpression("^P\\d{17,21}$").match(sleutel.value(0)).hasMatch(), qPrintable(sleutel.value(0)));

    // The change: new settings do not touch the company, client, tariff or key of a ride that exists.
    m_settings.BSA_BDR = QStringLiteral("31");
    const QString wijziging
        = bericht({ { 13, "K. Klaassen" }, { 36, "-5" }, { 10, "201113011405" }, { 75, "2" }, { 14, "0" }, { 9, "" } });
    QCOMPARE(exchange(*peer, { envelop(wijziging) }, 1), envelop(antwoordTekst("AC", 4711)));
    QCOMPARE(rows("SELECT pla_bdr_id, pla_temp, pla_naam_reiziger, pla_bedrag, pla_datum, pla_rolstoel, "
                  "pla_soortwagen, pla_spoed, pla_telefoon, pla_extern_locatie FROM planning"),
        QStringList { "21|" + sleutel.value(0) + "|K. Klaassen|-0.05|1899-12-30 00:00:00|0|T|0||" });
    QCOMPARE(rows("SELECT pla_tekst FROM planning"),
        QStringList { "Rolstoel mee\r\nGratis kinderen 2\r\nLAGE INSTAP = JA\r\nAFREKENWIJZE= CONTANT" });
    QCOMPARE(
        rows("SELECT tra_rit, tra_code FROM TRANSACTIES ORDER BY tra_id"), QStringList({ "1|91", "1|92", "1|92" }));
}

void TestRideIntake::answersWithCrLfWhenTheSettingIsOnAtThatMoment()
{
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    const QString annulering = bericht({ { 1, "BV" } });
    m_settings.bsaCRLF = true;
    QCOMPARE(
        exchange(*peer, { envelop(annulering) }, 1), QByteArray("<ZORVAN>4143094253410936093437313109<EINDE>\r\n"));
    m_settings.bsaCRLF = false;
    QCOMPARE(exchange(*peer, { envelop(annulering) }, 1), QByteArray("<ZORVAN>4143094253410936093437313109<EINDE>"));
    // The log shows the answer without CR LF either way.
    QCOMPARE(m_log.count("L:CO: <ZORVAN>4143094253410936093437313109<EINDE>"), 2);
}

void TestRideIntake::answersEveryEnvelopeOfAConnectionInOrder_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QList<int>>("answered"); // ride numbers, in the order of the answers

    const QByteArray een = envelop(bericht({ { 1, "BV" }, { 6, "1" } }));
    const QByteArray twee = envelop(bericht({ { 1, "BV" }, { 6, "2" } }));
    QTest::newRow("two envelopes in one write are both answered in order")
        << QByteArrayList { een + twee } << QList<int> { 1, 2 };
    QTest::newRow("an envelope split over three writes is answered once")
        << QByteArrayList { een.left(5), een.mid(5, 300), een.mid(305) } << QList<int> { 1 };
    QTest::newRow("CR LF after the end tag changes nothing")
        << QByteArrayList { een + "\r\n", twee + "\r\n" } << QList<int> { 1, 2 };
    QTest::newRow("an envelope split right after the first of two completes")
        << QByteArrayList { een + twee.left(20), twee.mid(20) } << QList<int> { 1, 2 };
}

void TestRideIntake::answersEveryEnvelopeOfAConnectionInOrder()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QList<int>, answered);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QByteArray expected;
    for (int ritnummer : answered)
        expected += envelop(antwoordTekst("AC", ritnummer));
    QCOMPARE(exchange(*peer, writes, int(answered.size())), expected);
    QVERIFY(m_log.contains("L:<VR>1"));
    QVERIFY(!m_log.contains(QStringLiteral("L:<NACK - RIT NIET GEVONDEN>")));
}

void TestRideIntake::keepsInterleavedConnectionsApart()
{
    auto first = connectLoopbackPeer(*m_server);
    auto second = connectLoopbackPeer(*m_server);
    QVERIFY(first && second);
    const QByteArray een = envelop(bericht({ { 1, "BV" }, { 6, "1" } }));
    const QByteArray twee = envelop(bericht({ { 1, "BV" }, { 6, "2" } }));
    QCOMPARE(exchange(*first, { een.left(100) }, 0), QByteArray());
    QCOMPARE(exchange(*second, { twee.left(200) }, 0), QByteArray());
    QCOMPARE(exchange(*first, { een.mid(100) }, 1), envelop(antwoordTekst("AC", 1)));
    QCOMPARE(exchange(*second, { twee.mid(200) }, 1), envelop(antwoordTekst("AC", 2)));
}

void TestRideIntake::answersNcZeroWhenTheDatabaseIsDown()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    m_database->close();
    if (kind == TestDatabaseServer::Kind::SQLite) {
        // A folder that cannot be made: a file stands where it should be.
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        m_login.server = "sqlite:" + blocker.fileName() + "/planning.db";
    } else {
        m_login.server = QStringLiteral("postgresql:127.0.0.1:1");
    }
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    const QString rit = bericht();
    QCOMPARE(exchange(*peer, { envelop(rit) }, 1), envelop(antwoordTekst("NC", 0)));
    // The database's own message is logged before the general negative answer, so the operator sees why.
    const QStringList eerst = binnen(rit, 4711, "BN");
    QCOMPARE(m_log.size(), eerst.size() + 3);
    QCOMPARE(m_log.mid(0, eerst.size()), eerst);
    const QString reden = m_log.at(eerst.size());
    QVERIFY2(reden.startsWith(QLatin1String("E:")) && reden.size() > 2, qPrintable(reden));
    QCOMPARE(m_log.mid(eerst.size() + 1), algemeenNegatief());
}

void TestRideIntake::refusesARideWhoseJournalCannotBeWritten()
{
    // The ride and its journal row are stored together or not at all: BSA hears "NC" and sends the ride again.
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    QString error;
    const QString drop = QStringLiteral("DROP TABLE TRANSACTIES");
    if (kind == TestDatabaseServer::Kind::SQLite)
        QVERIFY2(m_database->exec(drop, {}, &error), qPrintable(error));
    else
        QVERIFY2(TestDatabaseServer::runOnServer({ drop }, &error), qPrintable(error));
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QCOMPARE(exchange(*peer, { envelop(bericht()) }, 1), envelop(antwoordTekst("NC", 0)));
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning"), QStringList());
    const QStringList errors = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.at(0).contains(QLatin1String("TRANSACTIES"), Qt::CaseInsensitive), qPrintable(errors.at(0)));
    QCOMPARE(m_log.mid(m_log.indexOf(errors.at(0)) + 1), algemeenNegatief());
}

void TestRideIntake::answersNcZeroAndJournalsNothingWhenTheRowCannotBeWritten_data()
{
    QTest::addColumn<QString>("operatie"); // what the database refuses
    QTest::addColumn<QStringList>("bestaand");
    QTest::addColumn<QString>("tekst");
    QTest::newRow("a new ride that cannot be inserted") << "INSERT" << QStringList() << bericht();
    QTest::newRow("a change that cannot be written") << "UPDATE" << QStringList { "4711|W|0|Pold" } << bericht();
    QTest::newRow("a cancellation that cannot be written")
        << "UPDATE" << QStringList { "4711|W|0|Pold" } << bericht({ { 1, "BV" } });
}

void TestRideIntake::answersNcZeroAndJournalsNothingWhenTheRowCannotBeWritten()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    QFETCH(QString, operatie);
    QFETCH(QStringList, bestaand);
    QFETCH(QString, tekst);
    for (const QString &rij : bestaand)
        addPlanningRow(rij);
    const QStringList voor = rows("SELECT * FROM planning");
    QString error;
    if (kind == TestDatabaseServer::Kind::SQLite) {
        QVERIFY2(m_database->exec("CREATE TRIGGER weiger BEFORE " + operatie
                         + " ON planning BEGIN SELECT RAISE(ABORT, 'planning is read-only'); END",
                     {}, &error),
            qPrintable(error));
    } else {
        QVERIFY2(TestDatabaseServer::runOnServer(
                     { "CREATE FUNCTION weiger() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'planning is read-only'; "
                       "END $$ LANGUAGE plpgsql",
                         "CREATE TRIGGER weiger BEFORE " + operatie
                             + " ON planning FOR EACH ROW EXECUTE FUNCTION weiger()" },
                     &error),
            qPrintable(error));
    }
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QCOMPARE(exchange(*peer, { envelop(tekst) }, 1), envelop(antwoordTekst("NC", 0)));
    QCOMPARE(m_log.mid(m_log.size() - 2), algemeenNegatief());
    const QString reden = m_log.value(m_log.size() - 3);
    QVERIFY2(reden.startsWith(QLatin1String("E:")) && reden.contains(QLatin1String("planning is read-only")),
        qPrintable(reden));
    QCOMPARE(rows("SELECT * FROM planning"), voor);
    QCOMPARE(rows("SELECT tra_code FROM TRANSACTIES"), QStringList());
}

void TestRideIntake::showsTheFieldsOfTheLastMessage()
{
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    const QString naam = QStringLiteral("\"Jan\" de Vries, jr.");
    const QString tekst = bericht({ { 1, "BV" }, { 13, naam } });
    exchange(*peer, { envelop(tekst) }, 1);
    // One line per field as the link stores it: a name with spaces, a comma and quotes stays one line.
    QCOMPARE(m_pakketIn, tekst.split(Tab));
    QCOMPARE(m_pakketIn.mid(0, 6), QStringList({ "BV", "BSA", "6", "", "", "4711" }));
    QCOMPARE(m_pakketIn.at(12), naam);

    exchange(*peer, { envelop(bericht({}, 58)) }, 1);
    QCOMPARE(m_pakketIn, QStringList());
}

void TestRideIntake::refuseRide(int ritnummer)
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    QString error;
    const QString number = QString::number(ritnummer);
    if (kind == TestDatabaseServer::Kind::SQLite) {
        QVERIFY2(m_database->exec("CREATE TRIGGER weiger BEFORE INSERT ON planning WHEN NEW.pla_extern_ritnummer = "
                         + number + " BEGIN SELECT RAISE(ABORT, 'ride " + number + " refused'); END",
                     {}, &error),
            qPrintable(error));
    } else {
        QVERIFY2(TestDatabaseServer::runOnServer(
                     { "CREATE FUNCTION weiger() RETURNS trigger AS $$ BEGIN IF NEW.pla_extern_ritnummer = " + number
                             + " THEN RAISE EXCEPTION 'ride " + number
                             + " refused'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql",
                         QStringLiteral("CREATE TRIGGER weiger BEFORE INSERT ON planning FOR EACH ROW EXECUTE "
                                        "FUNCTION weiger()") },
                     &error),
            qPrintable(error));
    }
}

void TestRideIntake::storesTheRidesOfABatchAsIfEachCameAlone_data()
{
    QTest::addColumn<QStringList>("berichten"); // "kind ride name", all written at once and stored as one batch
    QTest::addColumn<int>("geweigerd"); // a ride number the database refuses to insert; 0 for none
    QTest::addColumn<QStringList>("antwoorden");
    QTest::addColumn<QStringList>("planning"); // ride number, name, remark
    QTest::addColumn<QStringList>("journaal"); // ride number of the journalled row, code
    QTest::newRow("a change right after its new ride is a change")
        << QStringList { "BN 4711 Eerst", "BN 4711 Daarna" } << 0 << QStringList { "AC 4711", "AC 4711" }
        << QStringList { "4711|Daarna|Daarna" } << QStringList { "4711|91", "4711|92", "4711|92" };
    QTest::newRow("a cancellation right after its new ride cancels it")
        << QStringList { "BN 4711 Eerst", "BV 4711 Eerst" } << 0 << QStringList { "AC 4711", "AC 4711" }
        << QStringList { "4711|Eerst|(VERWIJDERD DOOR OPDRACHTGEVER)" } << QStringList { "4711|91", "4711|93" };
    QTest::newRow("only the ride the database refuses gets NC, the others are stored")
        << QStringList { "BN 11 Een", "BN 13 Dertien", "BN 12 Twee", "BV 11 Een" } << 13
        << QStringList { "AC 11", "NC 0", "AC 12", "AC 11" }
        << QStringList { "11|Een|(VERWIJDERD DOOR OPDRACHTGEVER)", "12|Twee|Twee" }
        << QStringList { "11|91", "12|91", "11|93" };
    QTest::newRow("a refused new ride leaves its change to be refused as well")
        << QStringList { "BN 13 Dertien", "BN 13 Nogmaals", "BN 12 Twee" } << 13
        << QStringList { "NC 0", "NC 0", "AC 12" } << QStringList { "12|Twee|Twee" } << QStringList { "12|91" };
}

void TestRideIntake::storesTheRidesOfABatchAsIfEachCameAlone()
{
    QFETCH(QStringList, berichten);
    QFETCH(int, geweigerd);
    QFETCH(QStringList, antwoorden);
    QFETCH(QStringList, planning);
    QFETCH(QStringList, journaal);
    if (geweigerd > 0)
        refuseRide(geweigerd);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QByteArray batch;
    for (const QString &b : berichten) {
        const QStringList parts = b.split(QLatin1Char(' '));
        batch += envelop(bericht({ { 1, parts.at(0) }, { 6, parts.at(1) }, { 13, parts.at(2) } }));
    }
    QCOMPARE(answersIn(exchange(*peer, { batch }, int(antwoorden.size()))), antwoorden);
    QCOMPARE(
        rows("SELECT pla_extern_ritnummer, pla_naam_reiziger, pla_opmerking FROM planning ORDER BY pla_id"), planning);
    QCOMPARE(rows("SELECT pla_extern_ritnummer, tra_code FROM TRANSACTIES JOIN planning ON pla_id = tra_rit "
                  "ORDER BY tra_id"),
        journaal);

    // Each message's lines stand together, and a refused ride shows the database's reason before its answer.
    for (int i = 0; i < berichten.size(); ++i) {
        const QRegularExpression received(QStringLiteral("^L:SI: <ZORVAN>.*"));
        const qsizetype first = m_log.indexOf(received);
        QVERIFY(first >= 0);
        const qsizetype next = m_log.indexOf(received, first + 1);
        const QStringList lines = m_log.mid(first, next < 0 ? -1 : next - first);
        const QString answer = antwoorden.at(i);
        if (answer == QLatin1String("NC 0")) {
            QCOMPARE(lines.mid(lines.size() - 2), algemeenNegatief());
            QVERIFY2(lines.value(lines.size() - 3).contains(QLatin1String("refused")),
                qPrintable(lines.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(lines.constLast().left(6), QStringLiteral("L:<ACK"));
        }
        m_log = m_log.mid(next < 0 ? m_log.size() : next);
    }
}

void TestRideIntake::waitsForALockHeldByAnotherProgram()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    ServerLifecycle lifecycle(*m_server, m_settings);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    LockHolder lock;
    QString error;
    QVERIFY2(lock.take(kind, m_login, &error), qPrintable(error));

    QByteArray rides;
    for (int ritnummer : { 1, 2, 3 })
        rides += envelop(bericht({ { 6, QString::number(ritnummer) } }));
    peer->write(rides);

    // While the lock is held the link goes on: a new connection is accepted and listed, and a one-second tick runs.
    QTimer tick;
    tick.setInterval(1000);
    QSignalSpy ticks(&tick, &QTimer::timeout);
    tick.start();
    auto second = connectLoopbackPeer(*m_server);
    QVERIFY(second);
    QCOMPARE(lifecycle.ST(), QStringList({ "DISCONNECTED_UNIT", "127.0.0.1" })); // both peers share one address
    QVERIFY(ticks.wait(5000));
    QCOMPARE(peer->readAll(), QByteArray()); // nothing answered before it is stored
    QVERIFY(m_intake->waiting() == 3);

    QVERIFY(lock.release());
    QCOMPARE(answersIn(exchange(*peer, {}, 3)), QStringList({ "AC 1", "AC 2", "AC 3" }));
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning ORDER BY pla_id"), QStringList({ "1", "2", "3" }));
    QCOMPARE(answersIn(exchange(*second, { envelop(bericht({ { 6, "4" } })) }, 1)), QStringList { "AC 4" });
    QVERIFY(m_log.filter(QRegularExpression("^E:")).isEmpty());
}

void TestRideIntake::refusesWhenTheLockOutlastsTheBound()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    m_intake->setBusyBound(std::chrono::milliseconds(1000));
    addPlanningRow("7|W|0|Pold");
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    LockHolder lock;
    QString error;
    QVERIFY2(lock.take(kind, m_login, &error), qPrintable(error));

    // A new ride, a change and a cancellation: none may be half written.
    const QByteArray rides = envelop(bericht({ { 6, "5" } })) + envelop(bericht({ { 6, "7" } }))
        + envelop(bericht({ { 1, "BV" }, { 6, "7" } }));
    QCOMPARE(answersIn(exchange(*peer, { rides }, 3)), QStringList({ "NC 0", "NC 0", "NC 0" }));
    const QStringList errors = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(errors.size(), 3);
    for (const QString &reason : errors)
        QVERIFY2(reason.contains(QLatin1String("lock"), Qt::CaseInsensitive), qPrintable(reason));
    QVERIFY(lock.release());
    QCOMPARE(rows("SELECT pla_extern_ritnummer, pla_opmerking, pla_spoed FROM planning ORDER BY pla_id"),
        QStringList { "7|oud|0" });
    QCOMPARE(rows("SELECT tra_code FROM TRANSACTIES"), QStringList());

    // The lock gone, the next ride is stored as usual.
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "5" } })) }, 1)), QStringList { "AC 5" });
}

void TestRideIntake::storesTheRideOfAConnectionThatClosedWhileItWaited()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    LockHolder lock;
    QString error;
    QVERIFY2(lock.take(kind, m_login, &error), qPrintable(error));
    QSignalSpy gone(m_server.get(), &BSAServer::clientDisconnected);
    peer->write(envelop(bericht({ { 6, "8" } })));
    QTRY_COMPARE_WITH_TIMEOUT(m_intake->waiting(), 1, 5000);
    peer->disconnectFromHost();
    QVERIFY(gone.wait(5000));
    QVERIFY(lock.release());

    // The ride was whole when it came: it is stored, and the log says that its answer could not be given.
    QTRY_VERIFY_WITH_TIMEOUT(m_log.filter(QRegularExpression("^E:.*10057")).size() == 1, 5000);
    QVERIFY(m_log.contains("L:<BN - NIEUWE RIT>"));
    QVERIFY(!m_log.contains("L:<ACK - (BN) VERWERKT>"));
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning"), QStringList { "8" });
    QCOMPARE(rows("SELECT tra_code FROM TRANSACTIES"), QStringList { "91" });
}

void TestRideIntake::servesAnotherConnectionWhileOneFloods()
{
    auto flood = connectLoopbackPeer(*m_server);
    auto other = connectLoopbackPeer(*m_server);
    QVERIFY(flood && other);
    constexpr int Many = 400;
    QByteArray many;
    for (int i = 1; i <= Many; ++i)
        many += envelop(bericht({ { 6, QString::number(i) } }));
    flood->write(many);
    flood->flush();
    other->write(envelop(bericht({ { 6, "9999" } })));
    other->flush();

    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += flood->readAll()).count("<EINDE>") == Many, 60000);
    QCOMPARE(answersIn(exchange(*other, {}, 1)), QStringList { "AC 9999" });
    // The one ride of the other connection did not wait for all the rides that came before it on the first.
    const qsizetype otherAnswered = m_log.indexOf(co("AC", 9999));
    QVERIFY(otherAnswered >= 0);
    QVERIFY(otherAnswered < m_log.indexOf(co("AC", Many)));
    QCOMPARE(rows("SELECT count(*) FROM planning"), QStringList { QString::number(Many + 1) });
}

// While the database is locked, a peer that keeps sending fills the system's buffers, not the link's memory; once
// the lock is gone every ride is stored and answered, in order.
void TestRideIntake::holdsBackAConnectionThatSendsFasterThanTheDatabaseStores_data()
{
    QTest::addColumn<int>("many");
    QTest::addColumn<int>("nameLength"); // of the passenger's name as sent; the link cuts it when storing
    QTest::newRow("many small envelopes") << 2000 << 9;
    QTest::newRow("large envelopes") << 40 << 200000;
}

void TestRideIntake::holdsBackAConnectionThatSendsFasterThanTheDatabaseStores()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    QFETCH(int, many);
    QFETCH(int, nameLength);
    m_intake->setBusyBound(std::chrono::milliseconds(60000));
    auto flood = connectLoopbackPeer(*m_server);
    QVERIFY(flood);
    LockHolder lock;
    QString error;
    QVERIFY2(lock.take(kind, m_login, &error), qPrintable(error));

    QByteArray all;
    for (int i = 1; i <= many; ++i)
        all += envelop(bericht({ { 6, QString::number(i) }, { 13, QString(nameLength, QLatin1Char('J')) } }));
    flood->write(all);
    QTest::qWait(1500);
    // At most what one read of the connection holds beyond the marks at which its reading is held.
    const qsizetype envelopeSize = all.size() / many;
    const qsizetype countBound = RideIntake::HoldReadingAt + BSAConnection::ReadBufferBytes / envelopeSize + 2;
    const qsizetype byteBound = RideIntake::HoldReadingBytes + BSAConnection::ReadBufferBytes + envelopeSize;
    QVERIFY2(m_intake->waiting() <= countBound, qPrintable(QString::number(m_intake->waiting())));
    QVERIFY2(m_intake->waitingBytes() <= byteBound, qPrintable(QString::number(m_intake->waitingBytes())));
    QVERIFY(m_server->connections().value(0) && m_server->connections().value(0)->isReadingHeld());

    QVERIFY(lock.release());
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += flood->readAll()).count("<EINDE>") == many, 60000);
    QStringList expected;
    for (int i = 1; i <= many; ++i)
        expected << QStringLiteral("AC %1").arg(i);
    QCOMPARE(answersIn(received), expected);
    QCOMPARE(rows("SELECT count(*) FROM planning"), QStringList { QString::number(many) });
    QVERIFY(!m_server->connections().value(0)->isReadingHeld());
}

// The planning file removed while the link runs: BSA must not hear "AC" for a ride that went into the removed file.
void TestRideIntake::storesTheNextRideInTheFileNowAtThePath()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind != TestDatabaseServer::Kind::SQLite)
        QSKIP("only an SQLite file can be removed from under the link");
    BSA_UNIX_ONLY("removing or renaming a file that a program holds open");
    m_database->close();
    m_login.server = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("BSA/planning.db"));
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "1" } })) }, 1)), QStringList { "AC 1" });

    QVERIFY(QDir(m_dir.filePath(QStringLiteral("BSA"))).removeRecursively());
    m_log.clear();
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "2" } })) }, 1)), QStringList { "AC 2" });
    const QStringList warned = m_log.filter(QRegularExpression("^L:LET OP: HET DATABASEBESTAND .* IS VERWIJDERD"));
    QCOMPARE(warned.size(), 1);
    QVERIFY2(warned.first().contains(QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("BSA/planning.db")))),
        qPrintable(warned.first()));
    m_database->close(); // the rows are read from the file at the path
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning"), QStringList { "2" });
    QCOMPARE(rows("SELECT tra_code FROM TRANSACTIES"), QStringList { "91" });
}

// The whole PostgreSQL server stops answering (paused): each batch of rides holds the link for one bound at most,
// its rides get "NC" with the reason in the log, and once the server is back the next ride is stored.
void TestRideIntake::refusesPromptlyWhileTheServerIsPaused()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind != TestDatabaseServer::Kind::PostgreSQL)
        QSKIP("the server paused here is a PostgreSQL server of this test's own");
    TestDatabaseServer::ThrowawayServer server;
    QString message;
    m_database->close();
    switch (server.start(m_dir, &m_login, &message)) {
    case TestDatabaseServer::Outcome::Ready:
        break;
    case TestDatabaseServer::Outcome::Unavailable:
        QSKIP(qPrintable(message));
    case TestDatabaseServer::Outcome::Failed:
        QFAIL(qPrintable(message));
    }
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "1" } })) }, 1)), QStringList { "AC 1" });

    QVERIFY(server.pause());
    // Three rides in one batch: the open connection waits out its bound once, and the whole batch is refused.
    m_log.clear();
    QByteArray rides;
    for (int ritnummer : { 2, 3, 4 })
        rides += envelop(bericht({ { 6, QString::number(ritnummer) } }));
    QCOMPARE(answersIn(exchange(*peer, { rides }, 3, 60000)), QStringList({ "NC 0", "NC 0", "NC 0" }));
    QStringList reasons = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(reasons.size(), 3);
    for (const QString &reason : std::as_const(reasons))
        QVERIFY2(reason.contains(QLatin1String("no answer from the database within")), qPrintable(reason));

    // The next ride connects anew, and that connect ends at its own bound.
    m_log.clear();
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "5" } })) }, 1, 60000)), QStringList { "NC 0" });
    reasons = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(reasons.size(), 1);
    QVERIFY2(reasons.first().contains(QLatin1String("timeout expired")), qPrintable(reasons.first()));

    server.resume();
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "6" } })) }, 1)), QStringList { "AC 6" });
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning ORDER BY pla_id"), QStringList({ "1", "6" }));
    m_database->close(); // before the server goes
}

// The connection is lost in the middle of a batch and the database cannot be reached again: the batch's rides are
// not each given a connect of their own, which would hold the link for the connect's bound once per ride.
void TestRideIntake::triesAnUnreachableDatabaseOncePerBatch()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind != TestDatabaseServer::Kind::PostgreSQL)
        QSKIP("the connects are counted at one address for PostgreSQL");
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QCOMPARE(answersIn(exchange(*peer, { envelop(bericht({ { 6, "1" } })) }, 1)), QStringList { "AC 1" });

    // The connection ends in the middle of the next batch, and from then on the server's address accepts connects
    // and never answers.
    QString error;
    QVERIFY2(
        TestDatabaseServer::runOnServer(
            { QStringLiteral("CREATE FUNCTION weiger() RETURNS trigger AS $$ BEGIN "
                             "PERFORM pg_terminate_backend(pg_backend_pid()); RETURN NEW; END $$ LANGUAGE plpgsql"),
                QStringLiteral("CREATE TRIGGER weiger BEFORE INSERT ON planning FOR EACH ROW "
                               "EXECUTE FUNCTION weiger()") },
            &error),
        qPrintable(error));
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    silent.pauseAccepting();
    m_login.server = QStringLiteral("postgresql:127.0.0.1:%1").arg(silent.serverPort());

    m_log.clear();
    QByteArray rides;
    for (int ritnummer : { 2, 3, 4 })
        rides += envelop(bericht({ { 6, QString::number(ritnummer) } }));
    QCOMPARE(answersIn(exchange(*peer, { rides }, 3, 60000)), QStringList({ "NC 0", "NC 0", "NC 0" }));
    const QStringList reasons = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(reasons.size(), 3); // the connect that ran out, for every ride of the batch
    QVERIFY2(reasons.at(0).contains(QLatin1String("timeout expired")), qPrintable(reasons.at(0)));
    QCOMPARE(reasons.at(1), reasons.at(0));
    QCOMPARE(reasons.at(2), reasons.at(0));

    int connects = 0;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (silent.hasPendingConnections())
            delete silent.nextPendingConnection(), ++connects;
    });
    silent.resumeAccepting();
    QTRY_VERIFY_WITH_TIMEOUT(connects > 0, 5000);
    QTest::qWait(100);
    QCOMPARE(connects, 1);
}

// A statement that runs past its bound ends the batch: its rides are refused at once instead of each being tried on
// its own, which would hold the link for the bound once more per ride.
void TestRideIntake::refusesTheBatchWhoseStatementOutlastsItsBound()
{
    QFETCH_GLOBAL(TestDatabaseServer::Kind, kind);
    if (kind == TestDatabaseServer::Kind::SQLite)
        QSKIP("SQLite runs no statement for long");
    // Every new row takes longer than the bound; a sequence, which no rollback undoes, counts the tries.
    QString error;
    QVERIFY2(TestDatabaseServer::runOnServer(
                 { QStringLiteral("CREATE SEQUENCE weiger_calls"),
                     QStringLiteral("CREATE FUNCTION weiger() RETURNS trigger AS $$ BEGIN "
                                    "PERFORM nextval('weiger_calls'); PERFORM pg_sleep(60); RETURN NEW; END $$ "
                                    "LANGUAGE plpgsql"),
                     QStringLiteral("CREATE TRIGGER weiger BEFORE INSERT ON planning FOR EACH ROW "
                                    "EXECUTE FUNCTION weiger()") },
                 &error),
        qPrintable(error));
    auto peer = connectLoopbackPeer(*m_server);
    QVERIFY(peer);
    QByteArray rides;
    for (int ritnummer : { 1, 2, 3 })
        rides += envelop(bericht({ { 6, QString::number(ritnummer) } }));
    QCOMPARE(answersIn(exchange(*peer, { rides }, 3, 60000)), QStringList({ "NC 0", "NC 0", "NC 0" }));
    const QStringList reasons = m_log.filter(QRegularExpression("^E:"));
    QCOMPARE(reasons.size(), 3);
    for (const QString &reason : reasons)
        QVERIFY2(reason.contains(QLatin1String("statement timeout")), qPrintable(reason));
    QCOMPARE(rows("SELECT last_value FROM weiger_calls"), QStringList { "1" });
    QCOMPARE(rows("SELECT pla_extern_ritnummer FROM planning"), QStringList());
}

QTEST_GUILESS_MAIN(TestRideIntake)
#include "TestRideIntake.moc"

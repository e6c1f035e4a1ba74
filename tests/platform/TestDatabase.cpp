#include <csignal>
#include <cstdio>
#include <limits>
#include <memory>

#include <QSet>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Database.h"
#include "platform/DbConnectionString.h"
#include "platform/DatabaseLogin.h"
#include "platform/RowStatements.h"
#include "tests/support/TestDatabaseServer.h"
#include "tests/support/UnixOnly.h"

using Kind = TestDatabaseServer::Kind;
Q_DECLARE_METATYPE(TestDatabaseServer::Kind)

// The planning database connection against a real SQLite file, the throwaway PostgreSQL server, and that server
// through the ODBC driver.
class TestDatabase final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aPostgresqlLoginWithoutItsDriverNamesTheOdbcForm();
    void connectsAtFirstUse_data() { addKinds(); }
    void connectsAtFirstUse();
    void abortsSilentlyWithoutServer();
    void testOpensAndClosesAgain_data() { addKinds(); }
    void testOpensAndClosesAgain();
    void testReportsTheDriversMessage_data();
    void testReportsTheDriversMessage();
    void createsTheSqliteSchemaInWalMode();
    void heldLookupBlocksNothing();
    void lockedFileFailsTheWriteOnly();
    void cutsTextsToTheirColumns_data();
    void cutsTextsToTheirColumns();
    void usesTheDriverReportedSize_data() { addKinds(false); }
    void usesTheDriverReportedSize();
    void knowsTheSizesWithoutADriverFigure();
    void storesDecimalsExactly_data();
    void storesDecimalsExactly();
    void decimalTextHasEveryDigit_data();
    void decimalTextHasEveryDigit();
    void storesDateTimes_data();
    void storesDateTimes();
    void bindsQuotesAndSemicolonsVerbatim_data() { addKinds(); }
    void bindsQuotesAndSemicolonsVerbatim();
    void updatesOnlyTheKeyedRow_data() { addKinds(); }
    void updatesOnlyTheKeyedRow();
    void reconnectsAfterTheConnectionWasLost_data();
    void reconnectsAfterTheConnectionWasLost();
    void passwordWithSeparatorsLogsIn();
    void storesATransactionWholeOrNotAtAll_data() { addKinds(); }
    void storesATransactionWholeOrNotAtAll();
    void givesTheNewRowsIdFromTheInsert_data() { addKinds(); }
    void givesTheNewRowsIdFromTheInsert();
    void reportsALockHeldByAnotherProgramAsBusy_data() { addKinds(); }
    void reportsALockHeldByAnotherProgramAsBusy();
    void storesANulAsAQuestionMark_data() { addKinds(); }
    void storesANulAsAQuestionMark();
    void writesIntoTheFileNowAtThePath_data();
    void writesIntoTheFileNowAtThePath();
    void refusesACommitIntoAFileRemovedMeanwhile();
    void endsAStatementPastItsBound_data();
    void endsAStatementPastItsBound();
    void endsTheWaitForAPausedServerProcess();
    void endsTheConnectToAnAddressThatNeverAnswers_data();
    void endsTheConnectToAnAddressThatNeverAnswers();

private:
    static void addKinds(bool sqlite = true);
    static QTestData &kindRow(const char *what, Kind kind);
    int insertRide(RowStatements &rows, Database &db, int ritnummer, ColumnValues values);
    QVariant readColumn(Database &db, int id, const QString &expression);

    QTemporaryDir m_dir;
    // The database of the row's kind, prepared and opened by init() for the tests in OpensItsDatabase.
    DatabaseLogin m_login;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<RowStatements> m_rows;
};

namespace {

// The tests whose set-up is the database of their row's kind, opened, with its row statements.
const QSet<QByteArray> &opensItsDatabase()
{
    static const QSet<QByteArray> names {
        "connectsAtFirstUse",
        "testOpensAndClosesAgain",
        "bindsQuotesAndSemicolonsVerbatim",
        "updatesOnlyTheKeyedRow",
        "reconnectsAfterTheConnectionWasLost",
        "storesATransactionWholeOrNotAtAll",
        "givesTheNewRowsIdFromTheInsert",
        "reportsALockHeldByAnotherProgramAsBusy",
        "endsAStatementPastItsBound",
    };
    return names;
}

} // namespace

void TestDatabase::init()
{
    if (!opensItsDatabase().contains(QTest::currentTestFunction()))
        return;
    QFETCH(Kind, kind);
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, m_login);
    m_db = std::make_unique<Database>(TestDatabaseServer::loginFrom(m_login), m_dir.path());
    m_rows = std::make_unique<RowStatements>(*m_db);
}

void TestDatabase::cleanup()
{
    m_rows.reset();
    m_db.reset();
    m_login = {};
}

void TestDatabase::addKinds(bool sqlite)
{
    QTest::addColumn<Kind>("kind");
    if (sqlite)
        QTest::newRow("on SQLite") << Kind::SQLite;
    QTest::newRow("on PostgreSQL") << Kind::PostgreSQL;
    QTest::newRow("over ODBC") << Kind::Odbc;
}

QTestData &TestDatabase::kindRow(const char *what, Kind kind)
{
    const char *where = kind == Kind::SQLite ? "on SQLite" : kind == Kind::PostgreSQL ? "on PostgreSQL" : "over ODBC";
    return QTest::addRow("%s %s", what, where) << kind;
}

// Inserts a planning row with that ride number and gives its pla_id, found again by the ride number.
int TestDatabase::insertRide(RowStatements &rows, Database &db, int ritnummer, ColumnValues values)
{
    values.prepend({ QStringLiteral("pla_extern_ritnummer"), ritnummer });
    QString error;
    if (!rows.insertRow(QStringLiteral("planning"), values, &error)) {
        qWarning("insert failed: %s", qPrintable(error));
        return -1;
    }
    const std::optional<QueryResult> found
        = db.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_extern_ritnummer = ?"), { ritnummer }, &error);
    if (!found || found->rows.isEmpty()) {
        qWarning("row not found again: %s", qPrintable(error));
        return -1;
    }
    return found->rows.constFirst().at(0).toInt();
}

QVariant TestDatabase::readColumn(Database &db, int id, const QString &expression)
{
    QString error;
    const std::optional<QueryResult> found
        = db.exec(QStringLiteral("SELECT %1 FROM planning WHERE pla_id = ?").arg(expression), { id }, &error);
    if (!found || found->rows.isEmpty()) {
        qWarning("read failed: %s", qPrintable(error));
        return {};
    }
    return found->rows.constFirst().at(0);
}

void TestDatabase::connectsAtFirstUse()
{
    QFETCH(Kind, kind);
    Database &db = *m_db;
    QSignalSpy connected(&db, &Database::connected);
    QVERIFY(!db.isOpen());
    QCOMPARE(connected.count(), 0);

    QString error;
    const std::optional<QueryResult> count = db.exec(QStringLiteral("SELECT count(*) FROM planning"), {}, &error);
    QVERIFY2(count, qPrintable(error));
    QCOMPARE(count->rows.size(), 1);
    QCOMPARE(count->rows.constFirst().at(0).toInt(), 0);
    QVERIFY(db.isOpen());
    QVERIFY(db.exec(QStringLiteral("SELECT count(*) FROM TRANSACTIES"), {}, &error));
    QCOMPARE(connected.count(), 1); // once connected it stays connected
    QCOMPARE(db.dialect(),
        kind == Kind::SQLite           ? Database::Dialect::SQLite
            : kind == Kind::PostgreSQL ? Database::Dialect::PostgreSQL
                                       : Database::Dialect::Odbc);
}

void TestDatabase::aPostgresqlLoginWithoutItsDriverNamesTheOdbcForm()
{
    if (QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("this build has Qt's PostgreSQL driver (the Windows program has not)");
    DatabaseLogin login;
    login.server = QStringLiteral("postgresql:127.0.0.1");
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    QString error;
    QVERIFY(!db.open(&error));
    QCOMPARE(error, Database::NoPostgresqlDriver);
    QVERIFY(error.contains(QLatin1String("odbc:DRIVER={PostgreSQL Unicode(x64)}")));
}

void TestDatabase::abortsSilentlyWithoutServer()
{
    DatabaseLogin login;
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QSignalSpy connected(&db, &Database::connected);
    QString error;
    bool aborted = false;
    QVERIFY(!db.open(&error, &aborted));
    QVERIFY(aborted);
    QCOMPARE(error, QStringLiteral("Operation aborted"));

    error.clear();
    QVERIFY(!db.exec(QStringLiteral("SELECT 1"), {}, &error));
    QCOMPARE(error, QStringLiteral("Operation aborted"));
    QVERIFY(!rows.insertRow(QStringLiteral("planning"), { { QStringLiteral("pla_wagen"), 1 } }, &error));
    error.clear();
    QVERIFY(!db.test(&error)); // the TEST button reports the abort like any failure
    QCOMPARE(error, QStringLiteral("Operation aborted"));
    QCOMPARE(connected.count(), 0);

    // The setting is read at every connect: filled in, the next use connects.
    login.server = QStringLiteral("sqlite:aborted.db");
    QVERIFY2(db.open(&error, &aborted), qPrintable(error));
    QVERIFY(!aborted);
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("aborted.db")))); // relative to the program folder
}

void TestDatabase::testOpensAndClosesAgain()
{
    Database &db = *m_db;
    QString error;
    QVERIFY2(db.test(&error), qPrintable(error));
    QVERIFY(!db.isOpen());

    QVERIFY(db.open(&error));
    QVERIFY2(db.test(&error), qPrintable(error));
    QVERIFY(!db.isOpen()); // also closed when it had been open before
    QVERIFY2(db.exec(QStringLiteral("SELECT 1"), {}, &error), qPrintable(error));
}

void TestDatabase::testReportsTheDriversMessage_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("server"); // replaces the server; empty keeps the prepared one
    QTest::addColumn<QString>("password"); // replaces the password; empty keeps the prepared one
    QTest::addColumn<QString>("expected"); // part of the message
    QTest::newRow("an SQLite file below a plain file cannot open") << Kind::SQLite << "sqlite:blocker/planning.db"
                                                                   << ""
                                                                   << "unable to open";
    QTest::newRow("PostgreSQL refuses a wrong password") << Kind::PostgreSQL << ""
                                                         << "wrong"
                                                         << "password authentication failed";
    QTest::newRow("a server that does not listen is reported") << Kind::PostgreSQL << "postgresql:127.0.0.1:1"
                                                               << ""
                                                               << "127.0.0.1";
    QTest::newRow("an ODBC driver that is not installed is reported")
        << Kind::Odbc << "odbc:DRIVER={No Such Driver};SERVER=x"
        << ""
        << "No Such Driver";
    QTest::newRow("SQL Server through FreeTDS that does not listen is reported")
        << Kind::SQLite << "127.0.0.1,1"
        << ""
        << "[FreeTDS][SQL Server]Unable to connect";
}

void TestDatabase::testReportsTheDriversMessage()
{
    QFETCH(Kind, kind);
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    const DatabaseLogin good = login;
    QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    if (!server.isEmpty())
        login.server = server;
    if (!password.isEmpty())
        login.password = password;

    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    QString error;
    bool aborted = true;
    QVERIFY(!db.open(&error, &aborted));
    QVERIFY(!aborted);
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(expected, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(!db.isOpen());
    error.clear();
    QVERIFY(!db.test(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!db.exec(QStringLiteral("SELECT 1"), {}, &error));

    login = good; // the next use tries again, with the login as it is then
    QVERIFY2(db.exec(QStringLiteral("SELECT 1"), {}, &error), qPrintable(error));
}

void TestDatabase::createsTheSqliteSchemaInWalMode()
{
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::SQLite, m_dir, login);
    const QString file = login.server.mid(int(qstrlen("sqlite:")));
    {
        Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
        RowStatements rows(db);
        QString error;
        const int id = insertRide(rows, db, 4711, {});
        QVERIFY(id > 0);
        QCOMPARE(readColumn(db, id, QStringLiteral("pla_status")).toString(), QStringLiteral("W"));
        QCOMPARE(readColumn(db, id, QStringLiteral("pla_route")).toInt(), 0);
        QCOMPARE(readColumn(db, id, QStringLiteral("pla_retour_rbs")).toInt(), 0);
        QVERIFY(readColumn(db, id, QStringLiteral("pla_eigenaar")).isNull());
        QVERIFY2(rows.insertRow(QStringLiteral("TRANSACTIES"),
                     { { QStringLiteral("tra_rit"), id }, { QStringLiteral("tra_code"), 91 } }, &error),
            qPrintable(error));
        const std::optional<QueryResult> journal
            = db.exec(QStringLiteral("SELECT tra_id, tra_datum FROM TRANSACTIES WHERE tra_rit = ?"), { id }, &error);
        QVERIFY2(journal, qPrintable(error));
        QCOMPARE(journal->rows.size(), 1);
        const QVariantList row = journal->rows.constFirst();
        QCOMPARE(row.at(0).toInt(), 1);
        const QDateTime stamped = QDateTime::fromString(row.at(1).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY2(qAbs(stamped.secsTo(QDateTime::currentDateTime())) < 600, qPrintable(row.at(1).toString()));
        const std::optional<QueryResult> sync = db.exec(QStringLiteral("PRAGMA synchronous"), {}, &error);
        QVERIFY2(sync && sync->rows.size() == 1, qPrintable(error));
        QCOMPARE(sync->rows.constFirst().at(0).toInt(), 2); // FULL: every commit reaches the disk before it returns
    }
    {
        // A second connection sees the journal mode and the indexes; reopening keeps the rows.
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        raw.setDatabaseName(file);
        QVERIFY(raw.open());
        QSqlQuery query(raw);
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(query.exec(
            QStringLiteral("SELECT group_concat(name) FROM (SELECT il.name FROM pragma_index_list('planning') AS l "
                           "JOIN pragma_index_info(l.name) AS il ORDER BY il.name)")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("pla_extern_ritnummer,pla_retour_rbs,pla_temp"));
        query.finish();
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    Database again(TestDatabaseServer::loginFrom(login), m_dir.path());
    QString error;
    const std::optional<QueryResult> count = again.exec(QStringLiteral("SELECT count(*) FROM planning"), {}, &error);
    QVERIFY2(count && count->rows.size() == 1, qPrintable(error));
    QCOMPARE(count->rows.constFirst().at(0).toInt(), 1);
}

void TestDatabase::heldLookupBlocksNothing()
{
    // A caller keeps the result of a lookup while it writes: the write is committed at once, the held result still
    // reads, and no read is left open in the file.
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::SQLite, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QVERIFY(insertRide(rows, db, 1, {}) > 0);
    QVERIFY(insertRide(rows, db, 2, {}) > 0);
    QString error;
    const std::optional<QueryResult> lookup
        = db.exec(QStringLiteral("SELECT pla_id FROM planning ORDER BY pla_id"), {}, &error);
    QVERIFY2(lookup, qPrintable(error));
    QCOMPARE(lookup->rows.size(), 2); // every row is in the result before the next statement runs
    QVERIFY2(rows.insertRow(QStringLiteral("planning"), { { QStringLiteral("pla_extern_ritnummer"), 3 } }, &error),
        qPrintable(error));
    QCOMPARE(lookup->rows.size(), 2); // the held result is a value: the write does not change it

    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    other.setDatabaseName(login.server.mid(int(qstrlen("sqlite:"))));
    other.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    QVERIFY(other.open());
    {
        QSqlQuery query(other);
        QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM planning WHERE pla_extern_ritnummer = 3")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 1);
        // No read of ours is left open, so the log can be folded into the file: it does not grow without end.
        QVERIFY(query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 0); // not blocked by a reader
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

void TestDatabase::lockedFileFailsTheWriteOnly()
{
    // Another program holding the write lock makes a write fail soon, not freeze the link; the connection stays.
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::SQLite, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QVERIFY(insertRide(rows, db, 1, {}) > 0);
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
    other.setDatabaseName(login.server.mid(int(qstrlen("sqlite:"))));
    QVERIFY(other.open());
    {
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QString error;
        QVERIFY(!rows.insertRow(QStringLiteral("planning"), { { QStringLiteral("pla_extern_ritnummer"), 2 } }, &error));
        QVERIFY2(error.contains(QLatin1String("locked")), qPrintable(error));
        QVERIFY(db.lastFailureWasBusy());
        QVERIFY(db.isOpen());
        const std::optional<QueryResult> read = db.exec(QStringLiteral("SELECT count(*) FROM planning"), {}, &error);
        QVERIFY2(read && read->rows.size() == 1, qPrintable(error)); // readers go on in WAL mode
        QCOMPARE(read->rows.constFirst().at(0).toInt(), 1);
        QVERIFY(lock.exec(QStringLiteral("COMMIT")));
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    QVERIFY(insertRide(rows, db, 2, {}) > 0);
}

void TestDatabase::cutsTextsToTheirColumns_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("stored");
    const QString fifty = QString(50, QLatin1Char('s'));
    const QString memo = QString(9000, QLatin1Char('m')) + QStringLiteral("\r\nZaandam ł €");
    for (const Kind kind : { Kind::SQLite, Kind::PostgreSQL, Kind::Odbc }) {
        const auto row = [kind](const char *what) -> QTestData & { return kindRow(what, kind); };
        row("the owner code keeps its first three characters") << "pla_eigenaar"
                                                               << "01099"
                                                               << "010";
        row("a street keeps its first fifty characters") << "pla_ophstraat" << fifty + "extra" << fifty;
        row("a text that fits is stored whole, spaces included") << "pla_ophnummer"
                                                                 << " 12a "
                                                                 << " 12a ";
        row("a character outside the code page becomes a question mark") << "pla_naam_reiziger"
                                                                         << "Łukasz €5"
                                                                         << "?ukasz €5";
        row("the memo keeps every character and its length") << "pla_tekst" << memo << memo;
    }
}

void TestDatabase::cutsTextsToTheirColumns()
{
    QFETCH(Kind, kind);
    QFETCH(QString, column);
    QFETCH(QString, written);
    QFETCH(QString, stored);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    const int inserted = insertRide(rows, db, 10, { { column, written } });
    const int updated = insertRide(rows, db, 11, {});
    QVERIFY(inserted > 0 && updated > 0);
    QString error;
    QVERIFY2(
        rows.updateRow(QStringLiteral("planning"), { { column, written } }, QStringLiteral("pla_id"), updated, &error),
        qPrintable(error));
    QCOMPARE(readColumn(db, inserted, column).toString(), stored);
    QCOMPARE(readColumn(db, updated, column).toString(), stored);
}

void TestDatabase::usesTheDriverReportedSize()
{
    // A site may declare a column narrower than usual: the database's own declaration wins over the known sizes.
    QFETCH(Kind, kind);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    QString error;
    QVERIFY2(TestDatabaseServer::runOnServer(
                 { QStringLiteral("ALTER TABLE planning ALTER COLUMN pla_opmerking TYPE varchar(8)") }, &error),
        qPrintable(error));
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QCOMPARE(rows.textColumnSize(QStringLiteral("planning"), QStringLiteral("pla_opmerking")), 8);
    QCOMPARE(rows.textColumnSize(QStringLiteral("PLANNING"), QStringLiteral("PLA_EIGENAAR")), 3);
    QCOMPARE(rows.textColumnSize(QStringLiteral("TRANSACTIES"), QStringLiteral("tra_opmerking")), 255);
    QCOMPARE(rows.textColumnSize(QStringLiteral("planning"), QStringLiteral("pla_tekst")), -1);
    const int id = insertRide(rows, db, 11, { { QStringLiteral("pla_opmerking"), QStringLiteral("Jansen-de Vries") } });
    QVERIFY(id > 0);
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_opmerking")).toString(), QStringLiteral("Jansen-d"));
    QVERIFY2(TestDatabaseServer::runOnServer(
                 { QStringLiteral("ALTER TABLE planning ALTER COLUMN pla_opmerking TYPE varchar(50)") }, &error),
        qPrintable(error));
}

void TestDatabase::knowsTheSizesWithoutADriverFigure()
{
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::SQLite, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QCOMPARE(rows.textColumnSize(QStringLiteral("planning"), QStringLiteral("pla_opmerking")), 50);
    QCOMPARE(rows.textColumnSize(QStringLiteral("planning"), QStringLiteral("pla_temp")), 40);
    QCOMPARE(rows.textColumnSize(QStringLiteral("TRANSACTIES"), QStringLiteral("tra_opmerking")), 255);
    QCOMPARE(rows.textColumnSize(QStringLiteral("planning"), QStringLiteral("pla_tekst")), -1);
}

void TestDatabase::storesDecimalsExactly_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Decimal>("amount");
    QTest::addColumn<QString>("text");
    for (const Kind kind : { Kind::SQLite, Kind::PostgreSQL, Kind::Odbc }) {
        const auto row = [kind](const char *what) -> QTestData & { return kindRow(what, kind); };
        row("an amount in cents is stored as euros") << Decimal { 12345, 2 } << "123.45";
        row("a small negative amount keeps its sign") << Decimal { -5, 2 } << "-0.05";
        if (kind != Kind::SQLite) // SQLite keeps numbers as doubles; the other two store the decimal exactly
            row("the largest amount keeps its last cent") << Decimal { 999999999999999999, 2 } << "9999999999999999.99";
    }
}

// The text the database parses: every digit, the point where the scale puts it, zeros in front of a small amount.
void TestDatabase::decimalTextHasEveryDigit_data()
{
    QTest::addColumn<Decimal>("amount");
    QTest::addColumn<QString>("text");
    QTest::newRow("cents as euros") << Decimal { 12345, 2 } << "123.45";
    QTest::newRow("less than a euro") << Decimal { 5, 2 } << "0.05";
    QTest::newRow("exactly ten cents") << Decimal { 10, 2 } << "0.10";
    QTest::newRow("zero keeps its decimals") << Decimal { 0, 2 } << "0.00";
    QTest::newRow("a small negative amount") << Decimal { -5, 2 } << "-0.05";
    QTest::newRow("no decimals") << Decimal { 7, 0 } << "7";
    QTest::newRow("no decimals, negative") << Decimal { -70, 0 } << "-70";
    QTest::newRow("one decimal") << Decimal { 1234, 1 } << "123.4";
    QTest::newRow("the largest amount") << Decimal { std::numeric_limits<qint64>::max(), 2 } << "92233720368547758.07";
    QTest::newRow("the smallest amount") << Decimal { std::numeric_limits<qint64>::min(), 2 }
                                         << "-92233720368547758.08";
    QTest::newRow("many decimals") << Decimal { 1, 18 } << "0.000000000000000001";
    QTest::newRow("more decimals than any column")
        << Decimal { -12, 45 } << "-0.000000000000000000000000000000000000000000012";
}

void TestDatabase::decimalTextHasEveryDigit()
{
    QFETCH(Decimal, amount);
    QFETCH(QString, text);
    QCOMPARE(amount.toString(), text);
}

void TestDatabase::storesDecimalsExactly()
{
    QFETCH(Kind, kind);
    QFETCH(Decimal, amount);
    QFETCH(QString, text);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    const int id = insertRide(rows, db, 12, { { QStringLiteral("pla_bedrag"), QVariant::fromValue(amount) } });
    QVERIFY(id > 0);
    QCOMPARE(readColumn(db, id, QStringLiteral("CAST(pla_bedrag AS VARCHAR(40))")).toString(), text);
    QString error;
    const std::optional<QueryResult> match = db.exec(
        QStringLiteral("SELECT count(*) FROM planning WHERE pla_bedrag = ?"), { QVariant::fromValue(amount) }, &error);
    QVERIFY2(match && match->rows.size() == 1, qPrintable(error));
    QCOMPARE(match->rows.constFirst().at(0).toInt(), 1);
}

void TestDatabase::storesDateTimes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QDateTime>("written");
    QTest::addColumn<QString>("text");
    for (const Kind kind : { Kind::SQLite, Kind::PostgreSQL, Kind::Odbc }) {
        const auto row = [kind](const char *what) -> QTestData & { return kindRow(what, kind); };
        row("the zero date-time is stored as itself")
            << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "1899-12-30 00:00:00";
        row("a ride time keeps its wall-clock time")
            << QDateTime(QDate(2011, 1, 9), QTime(14, 5)) << "2011-01-09 14:05:00";
        row("a summer time stays as written") << QDateTime(QDate(2021, 7, 1), QTime(2, 30)) << "2021-07-01 02:30:00";
    }
}

void TestDatabase::storesDateTimes()
{
    QFETCH(Kind, kind);
    QFETCH(QDateTime, written);
    QFETCH(QString, text);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    const int id = insertRide(
        rows, db, 13, { { QStringLiteral("pla_datum"), written }, { QStringLiteral("pla_tijdstip"), QDateTime() } });
    QVERIFY(id > 0);
    const QString format = kind == Kind::SQLite ? QStringLiteral("pla_datum")
                                                : QStringLiteral("to_char(pla_datum, 'YYYY-MM-DD HH24:MI:SS')");
    QCOMPARE(readColumn(db, id, format).toString(), text);
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_datum")).toDateTime(), written);
    QVERIFY(readColumn(db, id, QStringLiteral("pla_tijdstip")).isNull()); // no date-time is NULL
}

void TestDatabase::bindsQuotesAndSemicolonsVerbatim()
{
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    const QString name = QStringLiteral("O'Brien'); DELETE FROM planning;--");
    const int id = insertRide(rows, db, 14,
        { { QStringLiteral("pla_tekst"), name },
            { QStringLiteral("pla_ophstad"), QStringLiteral("'s-Hertogenbosch;") } });
    QVERIFY(id > 0);
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_tekst")).toString(), name);
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_ophstad")).toString(), QStringLiteral("'s-Hertogenbosch;"));
    QString error;
    const std::optional<QueryResult> found
        = db.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_tekst = ?"), { name }, &error);
    QVERIFY2(found, qPrintable(error));
    QCOMPARE(found->rows, QList<QVariantList> { { id } });
}

void TestDatabase::updatesOnlyTheKeyedRow()
{
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    const int first = insertRide(rows, db, 21, { { QStringLiteral("pla_retour_rbs"), 1 } });
    const int second = insertRide(rows, db, 22, { { QStringLiteral("pla_retour_rbs"), 1 } });
    QVERIFY(first > 0 && second > 0);
    QString error;
    QVERIFY2(rows.updateRow(QStringLiteral("planning"),
                 { { QStringLiteral("pla_retour_rbs"), 2 }, { QStringLiteral("pla_eigenaar"), QStringLiteral("010") } },
                 QStringLiteral("pla_id"), second, &error),
        qPrintable(error));
    QCOMPARE(readColumn(db, first, QStringLiteral("pla_retour_rbs")).toInt(), 1);
    QCOMPARE(readColumn(db, second, QStringLiteral("pla_retour_rbs")).toInt(), 2);
    QCOMPARE(readColumn(db, second, QStringLiteral("pla_eigenaar")).toString(), QStringLiteral("010"));

    // A row that went away is a failed write, not a silent success.
    QVERIFY(!rows.updateRow(QStringLiteral("planning"), { { QStringLiteral("pla_retour_rbs"), 2 } },
        QStringLiteral("pla_id"), second + 100, &error));
    QVERIFY2(error.contains(QString::number(second + 100)), qPrintable(error));
    QVERIFY(db.isOpen()); // a statement's failure is no reason to drop a good connection
}

void TestDatabase::reconnectsAfterTheConnectionWasLost_data()
{
    addKinds(false);
}

void TestDatabase::reconnectsAfterTheConnectionWasLost()
{
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    QSignalSpy connected(&db, &Database::connected);
    QVERIFY(insertRide(rows, db, 31, {}) > 0);
    QCOMPARE(connected.count(), 1);

    QString error;
    QVERIFY2(TestDatabaseServer::runOnServer(
                 { QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                  "WHERE datname = current_database() AND pid <> pg_backend_pid()") },
                 &error),
        qPrintable(error));
    // The statement that meets the dead connection fails and says so; the next use connects anew.
    QVERIFY(!db.exec(QStringLiteral("SELECT count(*) FROM planning"), {}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!db.isOpen());
    QVERIFY(insertRide(rows, db, 32, {}) > 0);
    QCOMPARE(connected.count(), 2);
}

void TestDatabase::passwordWithSeparatorsLogsIn()
{
    // A password holding the separators of a connection string logs in as itself, through libpq and through the
    // ODBC driver (whose string quotes it), and a wrong one is refused.
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::PostgreSQL, m_dir, login);
    const TestDatabaseServer::Facts server = TestDatabaseServer::facts();
    const QString role = QStringLiteral("quoted_%1").arg(QCoreApplication::applicationPid());
    const QString password = QStringLiteral("a;b}c=d{e f'g\\h");
    QString quotedForSql = password;
    quotedForSql.replace(QLatin1String("'"), QLatin1String("''"));
    QString error;
    QVERIFY2(TestDatabaseServer::runOnServer(
                 { QStringLiteral("DROP ROLE IF EXISTS %1").arg(role),
                     QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, quotedForSql) },
                 &error),
        qPrintable(error));

    login.user = role;
    login.password = password;
    Database libpq(TestDatabaseServer::loginFrom(login), m_dir.path());
    QVERIFY2(libpq.test(&error), qPrintable(error));

    DatabaseLogin odbc;
    const auto odbcServer = [&](const QString &pwd) {
        return QStringLiteral("odbc:DRIVER={PostgreSQL Unicode};SERVER=%1;PORT=%2;DATABASE=%3;UID=%4;PWD=%5")
            .arg(server.host)
            .arg(server.port)
            .arg(login.database, role, DbConnectionString::odbcValue(pwd));
    };
    odbc.server = odbcServer(password);
    Database db(TestDatabaseServer::loginFrom(odbc), m_dir.path());
    QVERIFY2(db.test(&error), qPrintable(error));
    odbc.server = odbcServer(QStringLiteral("a;b"));
    QVERIFY(!db.test(&error));
    login.password = QStringLiteral("a;b");
    QVERIFY(!libpq.test(&error));
}

namespace {
QStringList rideNumbers(Database &db)
{
    QString error;
    const std::optional<QueryResult> found
        = db.exec(QStringLiteral("SELECT pla_extern_ritnummer FROM planning ORDER BY pla_id"), {}, &error);
    if (!found)
        return { QStringLiteral("error: ") + error };
    QStringList numbers;
    for (const QVariantList &row : found->rows)
        numbers << row.at(0).toString();
    return numbers;
}

ColumnValues ride(int ritnummer)
{
    return { { QStringLiteral("pla_extern_ritnummer"), ritnummer } };
}
} // namespace

void TestDatabase::storesATransactionWholeOrNotAtAll()
{
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    QString error;
    const QString planning = QStringLiteral("planning");

    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY(db.inTransaction());
    QVERIFY2(rows.insertRow(planning, ride(1), &error), qPrintable(error));
    QCOMPARE(rideNumbers(db), QStringList { "1" }); // the transaction sees its own rows
    db.rollback();
    QVERIFY(!db.inTransaction());
    QCOMPARE(rideNumbers(db), QStringList());

    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(planning, ride(2), &error), qPrintable(error));
    QVERIFY2(rows.insertRow(planning, ride(3), &error), qPrintable(error));
    QVERIFY2(db.commit(&error), qPrintable(error));
    QCOMPARE(rideNumbers(db), QStringList({ "2", "3" }));

    // A statement that fails takes the whole transaction with it; the connection stays usable.
    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(planning, ride(4), &error), qPrintable(error));
    QVERIFY(!db.exec(QStringLiteral("INSERT INTO planning (no_such_column) VALUES (1)"), {}, &error));
    QVERIFY(!db.lastFailureWasBusy());
    QVERIFY(!db.inTransaction());
    QVERIFY(db.isOpen());
    QCOMPARE(rideNumbers(db), QStringList({ "2", "3" }));
    QVERIFY2(rows.insertRow(planning, ride(5), &error), qPrintable(error)); // on its own again: commits at once
    QCOMPARE(rideNumbers(db), QStringList({ "2", "3", "5" }));
}

void TestDatabase::givesTheNewRowsIdFromTheInsert()
{
    QFETCH(Kind, kind);
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    QVERIFY(insertRide(rows, db, 1, {}) > 0);
    QString error;
    QVariant id;
    QVERIFY2(
        rows.insertRowReturningId(QStringLiteral("planning"),
            { { QStringLiteral("pla_extern_ritnummer"), 2 }, { QStringLiteral("pla_temp"), QStringLiteral("P2") } },
            QStringLiteral("pla_id"), &id, &error),
        qPrintable(error));
    const std::optional<QueryResult> found
        = db.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_temp = 'P2'"), {}, &error);
    QVERIFY2(found && found->rows.size() == 1, qPrintable(error));
    if (kind == Kind::Odbc) {
        QVERIFY(!id.isValid()); // any data source: the caller finds the row by its key
    } else {
        QVERIFY(id.isValid());
        QCOMPARE(id.toInt(), found->rows.constFirst().at(0).toInt());
    }
}

void TestDatabase::reportsALockHeldByAnotherProgramAsBusy()
{
    QFETCH(Kind, kind);
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    QVERIFY(insertRide(rows, db, 1, {}) > 0);
    const QString name = QStringLiteral("busy-locker");
    {
        QSqlDatabase other;
        QStringList lock;
        if (kind == Kind::SQLite) {
            other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            other.setDatabaseName(m_login.server.mid(int(qstrlen("sqlite:"))));
            lock << QStringLiteral("BEGIN IMMEDIATE");
        } else {
            const TestDatabaseServer::Facts server = TestDatabaseServer::facts();
            other = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            other.setHostName(server.host);
            other.setPort(server.port);
            other.setDatabaseName(TestDatabaseServer::databaseName());
            other.setUserName(server.user);
            other.setPassword(server.password);
            lock << QStringLiteral("BEGIN") << QStringLiteral("LOCK TABLE planning IN EXCLUSIVE MODE");
        }
        QVERIFY2(other.open(), qPrintable(other.lastError().text()));
        QSqlQuery holder(other);
        for (const QString &statement : lock)
            QVERIFY2(holder.exec(statement), qPrintable(holder.lastError().text()));

        // The write fails soon instead of waiting for the lock; the caller may try again later.
        QString error;
        const bool began = db.begin(&error);
        QVERIFY(!began || !rows.insertRow(QStringLiteral("planning"), ride(2), &error));
        QVERIFY2(db.lastFailureWasBusy(), qPrintable(error));
        QVERIFY(!db.inTransaction());
        QVERIFY(db.isOpen());
        const std::optional<QueryResult> read = db.exec(QStringLiteral("SELECT count(*) FROM planning"), {}, &error);
        QVERIFY2(read, qPrintable(error)); // readers go on meanwhile
        QCOMPARE(read->rows.constFirst().at(0).toInt(), 1);

        QVERIFY(holder.exec(QStringLiteral("COMMIT")));
        QVERIFY2(db.begin(&error), qPrintable(error));
        QVERIFY2(rows.insertRow(QStringLiteral("planning"), ride(2), &error), qPrintable(error));
        QVERIFY2(db.commit(&error), qPrintable(error));
        QCOMPARE(rideNumbers(db), QStringList({ "1", "2" }));
        other.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void TestDatabase::storesANulAsAQuestionMark()
{
    // BSA's hexadecimal form can carry a NUL inside a field: PostgreSQL refuses it in text, so the ride would be
    // refused at every resend. Every database stores it as the code page's "?" instead.
    QFETCH(Kind, kind);
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(kind, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    const QChar nul(u'\0');
    const int id = insertRide(rows, db, 41,
        { { QStringLiteral("pla_naam_reiziger"), QStringLiteral("Jan") + nul + QStringLiteral("Jansen") },
            { QStringLiteral("pla_tekst"), QStringLiteral("regel") + nul + nul } });
    QVERIFY(id > 0);
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_naam_reiziger")).toString(), QStringLiteral("Jan?Jansen"));
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_tekst")).toString(), QStringLiteral("regel??"));
    QString error;
    QVERIFY2(rows.updateRow(QStringLiteral("planning"), { { QStringLiteral("pla_opmerking"), QString(nul) } },
                 QStringLiteral("pla_id"), id, &error),
        qPrintable(error));
    QCOMPARE(readColumn(db, id, QStringLiteral("pla_opmerking")).toString(), QStringLiteral("?"));
}

void TestDatabase::writesIntoTheFileNowAtThePath_data()
{
    QTest::addColumn<QString>("change"); // what happens to the open file at BSA/planning.db
    QTest::addColumn<QStringList>("rides"); // in the file at the path afterwards
    QTest::newRow("the file is removed, its log left beside it") << "remove file" << QStringList { "2" };
    QTest::newRow("its folder is removed") << "remove folder" << QStringList { "2" };
    QTest::newRow("another file is put in its place") << "replace" << QStringList { "7", "2" };
}

// The link keeps an SQLite file open. Removed or replaced, it would take every ride written afterwards with it when
// the link ends, while BSA heard "AC" for each: the next write goes to the file at the path.
void TestDatabase::writesIntoTheFileNowAtThePath()
{
    BSA_UNIX_ONLY("removing or renaming a file that a program holds open");
    QFETCH(QString, change);
    QFETCH(QStringList, rides);
    QTemporaryDir home;
    DatabaseLogin login;
    login.server = QStringLiteral("sqlite:BSA/planning.db");
    Database db(TestDatabaseServer::loginFrom(login), home.path());
    RowStatements rows(db);
    QSignalSpy logged(&db, &Database::logLine);
    QString error;
    const auto store = [&](int ritnummer) {
        return db.begin(&error) && rows.insertRow(QStringLiteral("planning"), ride(ritnummer), &error)
            && db.commit(&error);
    };
    QVERIFY2(store(1), qPrintable(error));
    const QString path = home.filePath(QStringLiteral("BSA/planning.db"));

    if (change == QLatin1String("remove file")) {
        QVERIFY(QFile::remove(path));
    } else if (change == QLatin1String("remove folder")) {
        QVERIFY(QDir(home.filePath(QStringLiteral("BSA"))).removeRecursively());
    } else {
        DatabaseLogin otherLogin;
        otherLogin.server = QStringLiteral("sqlite:other.db");
        {
            Database other(TestDatabaseServer::loginFrom(otherLogin), home.path());
            QVERIFY2(RowStatements(other).insertRow(QStringLiteral("planning"), ride(7), &error), qPrintable(error));
        }
        QVERIFY(::rename(QFile::encodeName(home.filePath(QStringLiteral("other.db"))).constData(),
                    QFile::encodeName(path).constData())
            == 0);
    }
    QCOMPARE(logged.count(), 0); // nothing is looked at until the next write

    QVERIFY2(store(2), qPrintable(error));
    QCOMPARE(logged.count(), 1);
    const QString line = logged.first().first().toString();
    QVERIFY2(line.startsWith(QStringLiteral("LET OP: HET DATABASEBESTAND %1 IS VERWIJDERD OF VERVANGEN")
                                 .arg(QDir::toNativeSeparators(path))),
        qPrintable(line));
    db.close();
    Database again(TestDatabaseServer::loginFrom(login), home.path());
    QCOMPARE(rideNumbers(again), rides);
}

void TestDatabase::refusesACommitIntoAFileRemovedMeanwhile()
{
    BSA_UNIX_ONLY("removing or renaming a file that a program holds open");
    QTemporaryDir home;
    DatabaseLogin login;
    login.server = QStringLiteral("sqlite:BSA/planning.db");
    Database db(TestDatabaseServer::loginFrom(login), home.path());
    RowStatements rows(db);
    QSignalSpy logged(&db, &Database::logLine);
    QString error;
    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(QStringLiteral("planning"), ride(1), &error), qPrintable(error));
    QVERIFY(QDir(home.filePath(QStringLiteral("BSA"))).removeRecursively());

    // The commit lands in the removed file: it must not count as stored.
    QVERIFY(!db.commit(&error));
    QVERIFY2(error.contains(QStringLiteral("was removed or replaced")), qPrintable(error));
    QCOMPARE(logged.count(), 1);
    QVERIFY(!db.inTransaction());

    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(QStringLiteral("planning"), ride(2), &error), qPrintable(error));
    QVERIFY2(db.commit(&error), qPrintable(error));
    db.close();
    Database again(TestDatabaseServer::loginFrom(login), home.path());
    QCOMPARE(rideNumbers(again), QStringList { "2" });
}

void TestDatabase::endsAStatementPastItsBound_data()
{
    addKinds(false);
}

// A statement that runs longer than its bound is ended by the server or the driver: the caller hears it was a
// time-out, and the next use connects anew.
void TestDatabase::endsAStatementPastItsBound()
{
    Database &db = *m_db;
    RowStatements &rows = *m_rows;
    QSignalSpy connected(&db, &Database::connected);
    QString error;
    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(QStringLiteral("planning"), ride(1), &error), qPrintable(error));
    QVERIFY(!db.exec(QStringLiteral("SELECT pg_sleep(120)"), {}, &error));
    QVERIFY2(db.lastFailureWasTimeout(), qPrintable(error));
    QVERIFY(!db.inTransaction());
    QVERIFY(!db.isOpen());

    QVERIFY(insertRide(rows, db, 2, {}) > 0);
    QCOMPARE(connected.count(), 2);
    QCOMPARE(rideNumbers(db), QStringList { "2" });
}

namespace {
// Sends a signal to a process of the test server, and SIGCONT again when it goes out of scope, whatever happened.
class PausedProcess
{
public:
    explicit PausedProcess(qint64 pid)
        : m_pid(pid)
        , m_paused(::kill(pid_t(pid), SIGSTOP) == 0)
    { }
    ~PausedProcess() { resume(); }
    bool paused() const { return m_paused; }
    void resume()
    {
        if (m_paused)
            ::kill(pid_t(m_pid), SIGCONT);
        m_paused = false;
    }

private:
    qint64 m_pid;
    bool m_paused;
};
} // namespace

// The server process of the link's connection stops (paused, or stuck on its disk): the operating system still
// answers for it, so only the link's own bound ends the wait. Then the next use connects to a new server process.
void TestDatabase::endsTheWaitForAPausedServerProcess()
{
    DatabaseLogin login;
    BSA_PREPARE_TEST_DATABASE(Kind::PostgreSQL, m_dir, login);
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    RowStatements rows(db);
    QString error;
    const std::optional<QueryResult> backend = db.exec(QStringLiteral("SELECT pg_backend_pid()"), {}, &error);
    QVERIFY2(backend, qPrintable(error));
    QVERIFY2(db.begin(&error), qPrintable(error));
    QVERIFY2(rows.insertRow(QStringLiteral("planning"), ride(1), &error), qPrintable(error));

    PausedProcess server(backend->rows.constFirst().constFirst().toLongLong());
    if (!server.paused())
        QSKIP("the test may not pause the server's process");
    QVERIFY(!rows.insertRow(QStringLiteral("planning"), ride(2), &error));
    QVERIFY2(error.contains(QStringLiteral("no answer from the database within")), qPrintable(error));
    QVERIFY(db.lastFailureWasTimeout());
    QVERIFY(!db.isOpen());

    QVERIFY(insertRide(rows, db, 3, {}) > 0);
    server.resume();
    // The paused process finds its client gone and takes its unfinished transaction with it.
    QCOMPARE(rideNumbers(db), QStringList { "3" });
}

void TestDatabase::endsTheConnectToAnAddressThatNeverAnswers_data()
{
    QTest::addColumn<QString>("server"); // %1 is the silent port
    QTest::newRow("PostgreSQL") << "postgresql:127.0.0.1:%1";
    QTest::newRow("ODBC with the PostgreSQL driver") << "odbc:DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=%1;"
                                                        "DATABASE=planning;UID=bsa;PWD=x";
    QTest::newRow("SQL Server through FreeTDS") << "127.0.0.1,%1";
}

// An address where something accepts the connection and never says a word: the connect ends at its bound.
void TestDatabase::endsTheConnectToAnAddressThatNeverAnswers()
{
    QFETCH(QString, server);
#ifdef Q_OS_WIN
    if (!server.contains(QLatin1Char(':'))) // SQL Server
        QSKIP("under Wine the ODBC connect to a silent server outlasts its bound (to be tried on Windows itself)");
#endif
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    silent.pauseAccepting(); // the system completes the connects; nobody reads them
    DatabaseLogin login;
    login.server = server.arg(silent.serverPort());
    login.database = QStringLiteral("planning");
    login.user = QStringLiteral("bsa");
    login.password = QStringLiteral("x");
    Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
    QString error;
    QVERIFY(!db.open(&error));
    QVERIFY(!error.isEmpty());
    qInfo("%s", qPrintable(error));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "TestDatabase.moc"

// intake_floor: what the planning database alone allows the ride intake. For every ride it runs four statements
// of a new ride (lookup by ride number, planning insert, lookup by temporary key, journal insert) on one connection,
// with no TCP and no message decoding. The link's rides per second against this figure is the share of the time the
// link spends on its own work.
//
//   intake_floor --sqlite FILE --rides 2000 [--commit statement|ride|N] [--through raw|database] [--json]
//   intake_floor --pg 127.0.0.1:5432:planning:user:password --rides 2000
//
// --commit statement (the default): every statement commits on its own; ride: one transaction per ride; N: N rides
// per transaction (group commit). A ride's latency runs from its first statement to the commit that stored it.
//
// --through raw (the default) binds ready values to four prepared QSqlQuery statements: the floor itself.
// --through database runs the same rows through the link's Database class, which adds its own per-row work
// (statement text, code page, column sizes); the gap between the two is that class's share.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "codec/RitBSA.h"
#include "intake/Planningrij.h"
#include "intake/TempKeyGenerator.h"
#include "platform/Database.h"
#include "platform/RowStatements.h"
#include "platform/PlanningSchema.h"
#include "settings/Settings.h"
#include "tools/bsa-sim/RideMessageBuilder.h"

namespace {

const QString ConnectionName = QStringLiteral("intake_floor");

// The statements of one new ride, in the intake's own words.
const QString LookupByRide = QStringLiteral(
    "SELECT pla_id, pla_status, pla_route, pla_temp FROM planning WHERE pla_extern_ritnummer = ? ORDER BY pla_id");
const QString LookupByKey = QStringLiteral("SELECT pla_id FROM planning WHERE pla_temp = ?");

struct Target
{
    bool sqlite = true;
    QString file; // SQLite
    QString host; // PostgreSQL
    int port = 5432;
    QString database;
    QString user;
    QString password;
};

// How often the floor commits: 0 every statement, otherwise every this many rides.
struct CommitEvery
{
    int rides = 0;
    QString name() const
    {
        return rides == 0 ? QStringLiteral("statement") : rides == 1 ? QStringLiteral("ride") : QString::number(rides);
    }
};

struct Result
{
    int rides = 0;
    double seconds = 0;
    QList<double> latenciesMs; // one per ride: its four statements
};

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "intake_floor: %s\n", qPrintable(message));
    std::exit(1);
}

std::optional<Target> parseTarget(
    const QCommandLineParser &parser, const QCommandLineOption &sqlite, const QCommandLineOption &pg)
{
    Target target;
    if (parser.isSet(sqlite) == parser.isSet(pg))
        return std::nullopt;
    if (parser.isSet(sqlite)) {
        target.file = QFileInfo(parser.value(sqlite)).absoluteFilePath();
        return target;
    }
    // host:port:database:user:password; the password is last so that it may hold colons.
    const QStringList parts = parser.value(pg).split(QLatin1Char(':'));
    if (parts.size() < 5)
        return std::nullopt;
    target.sqlite = false;
    target.host = parts.at(0);
    bool ok = false;
    target.port = parts.at(1).toInt(&ok);
    if (!ok)
        return std::nullopt;
    target.database = parts.at(2);
    target.user = parts.at(3);
    target.password = parts.mid(4).join(QLatin1Char(':'));
    return target;
}

// One ride as BSA's default message gives it, turned into the planning row the intake writes for a new ride.
ColumnValues templateRow(const Settings &settings, int rideNumber, const QDateTime &now)
{
    tRitBSA rit;
    QString error;
    if (!TekstNaarRit(RideMessageBuilder(rideNumber, now).text(), rit, &error))
        fail(QStringLiteral("the ride message does not parse: ") + error);
    return VulPlanningrij(rit, RideChange::New, settings, TempKeyGenerator::format(now, 0)).columns;
}

qsizetype columnIndex(const ColumnValues &row, const QString &column)
{
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (row.at(i).first == column)
            return i;
    }
    fail(QStringLiteral("the planning row has no column ") + column);
}

ColumnValues journalRow(int rideId)
{
    return {
        { QStringLiteral("tra_gebruiker"), 0 },
        { QStringLiteral("tra_ritstaat"), 0 },
        { QStringLiteral("tra_rit"), rideId },
        { QStringLiteral("tra_wagen"), 0 },
        { QStringLiteral("tra_chauffeur"), 0 },
        { QStringLiteral("tra_code"), 91 },
        { QStringLiteral("tra_opmerking"), QStringLiteral("") },
    };
}

QString insertText(const QString &table, const ColumnValues &row)
{
    QStringList columns;
    QStringList marks;
    for (const auto &column : row) {
        columns << column.first;
        marks << QStringLiteral("?");
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(table, columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
}

// The value as the link binds it on SQLite and PostgreSQL: decimals and date-times as text.
QVariant boundValue(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<Decimal>())
        return value.value<Decimal>().toString();
    if (value.metaType() == QMetaType::fromType<QDateTime>())
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return value;
}

QSqlDatabase openRaw(const Target &target)
{
    if (target.sqlite) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
        db.setDatabaseName(target.file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=250"));
        if (!db.open())
            fail(db.lastError().text());
        QSqlQuery setup(db);
        // The link's own durability: WAL, and a full sync at every commit.
        QStringList statements { QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=FULL") };
        statements += PlanningSchema::sqliteStatements();
        for (const QString &statement : statements) {
            if (!setup.exec(statement))
                fail(statement + QStringLiteral(": ") + setup.lastError().text());
        }
        return db;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), ConnectionName);
    db.setHostName(target.host);
    db.setPort(target.port);
    db.setDatabaseName(target.database);
    db.setUserName(target.user);
    db.setPassword(target.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=15"));
    if (!db.open())
        fail(db.lastError().text());
    return db;
}

void prepare(QSqlQuery &query, const QString &sql)
{
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("preparing \"%1\": %2").arg(sql, query.lastError().text()));
}

void run(QSqlQuery &query, const char *what)
{
    if (!query.exec())
        fail(QStringLiteral("%1: %2").arg(QLatin1String(what), query.lastError().text()));
}

Result runRaw(const Target &target, int rides, int firstRide, CommitEvery commit)
{
    const QDateTime now = QDateTime::currentDateTime();
    ColumnValues row = templateRow(Settings(), firstRide, now);
    const qsizetype tempColumn = columnIndex(row, QStringLiteral("pla_temp"));
    const qsizetype rideColumns[]
        = { columnIndex(row, QStringLiteral("pla_extern_ritnummer")), columnIndex(row, QStringLiteral("pla_extern")) };
    QVariantList planningValues;
    for (const auto &column : row)
        planningValues << boundValue(column.second);
    const ColumnValues journal = journalRow(0);
    const qsizetype journalRideColumn = columnIndex(journal, QStringLiteral("tra_rit"));
    QVariantList journalValues;
    for (const auto &column : journal)
        journalValues << column.second;

    Result result;
    {
        QSqlDatabase db = openRaw(target);
        QSqlQuery byRide(db);
        QSqlQuery insertPlanning(db);
        QSqlQuery byKey(db);
        QSqlQuery insertJournal(db);
        prepare(byRide, LookupByRide);
        prepare(insertPlanning, insertText(QStringLiteral("planning"), row));
        prepare(byKey, LookupByKey);
        prepare(insertJournal, insertText(QStringLiteral("TRANSACTIES"), journal));

        result.latenciesMs.reserve(rides);
        QElapsedTimer total;
        total.start();
        QList<qint64> started; // of the rides in the open transaction
        for (int i = 0; i < rides; ++i) {
            if (commit.rides > 0 && started.isEmpty() && !db.transaction())
                fail(QStringLiteral("begin: ") + db.lastError().text());
            started << total.nsecsElapsed();
            const int rideNumber = firstRide + i;
            byRide.bindValue(0, rideNumber);
            run(byRide, "lookup by ride number");
            if (byRide.next())
                fail(QStringLiteral("ride %1 is in the database already: give a fresh one").arg(rideNumber));
            byRide.finish();

            planningValues[tempColumn] = TempKeyGenerator::format(now, i);
            for (const qsizetype column : rideColumns)
                planningValues[column] = rideNumber;
            for (qsizetype v = 0; v < planningValues.size(); ++v)
                insertPlanning.bindValue(int(v), planningValues.at(v));
            run(insertPlanning, "planning insert");

            byKey.bindValue(0, planningValues.at(tempColumn));
            run(byKey, "lookup by temporary key");
            if (!byKey.next())
                fail(QStringLiteral("the row of ride %1 is not found by its key").arg(rideNumber));
            journalValues[journalRideColumn] = byKey.value(0).toInt();
            byKey.finish();
            for (qsizetype v = 0; v < journalValues.size(); ++v)
                insertJournal.bindValue(int(v), journalValues.at(v));
            run(insertJournal, "journal insert");
            if (commit.rides == 0 || started.size() == commit.rides || i == rides - 1) {
                if (commit.rides > 0 && !db.commit())
                    fail(QStringLiteral("commit: ") + db.lastError().text());
                const qint64 stored = total.nsecsElapsed();
                for (const qint64 start : std::as_const(started))
                    result.latenciesMs << (stored - start) / 1e6;
                started.clear();
            }
        }
        result.seconds = total.nsecsElapsed() / 1e9;
        result.rides = rides;
    }
    QSqlDatabase::removeDatabase(ConnectionName);
    return result;
}

Result runThroughDatabase(const Target &target, int rides, int firstRide, CommitEvery commit)
{
    DatabaseLogin login;
    if (target.sqlite) {
        login.server = QStringLiteral("sqlite:") + target.file;
    } else {
        login.server = QStringLiteral("postgresql:%1:%2").arg(target.host).arg(target.port);
        login.database = target.database;
        login.user = target.user;
        login.password = target.password;
    }
    Database database([login] { return login; }, QFileInfo(target.file).absolutePath());
    QString error;
    if (!database.open(&error))
        fail(error);
    RowStatements rows(database);

    const QDateTime now = QDateTime::currentDateTime();
    ColumnValues row = templateRow(Settings(), firstRide, now);
    const qsizetype tempColumn = columnIndex(row, QStringLiteral("pla_temp"));
    const qsizetype rideColumns[]
        = { columnIndex(row, QStringLiteral("pla_extern_ritnummer")), columnIndex(row, QStringLiteral("pla_extern")) };

    Result result;
    result.latenciesMs.reserve(rides);
    QElapsedTimer total;
    total.start();
    QList<qint64> started;
    for (int i = 0; i < rides; ++i) {
        if (commit.rides > 0 && started.isEmpty() && !database.begin(&error))
            fail(error);
        started << total.nsecsElapsed();
        const int rideNumber = firstRide + i;
        std::optional<QueryResult> found = database.exec(LookupByRide, { rideNumber }, &error);
        if (!found)
            fail(error);
        if (!found->rows.isEmpty())
            fail(QStringLiteral("ride %1 is in the database already: give a fresh one").arg(rideNumber));

        const QString key = TempKeyGenerator::format(now, i);
        row[tempColumn].second = key;
        for (const qsizetype column : rideColumns)
            row[column].second = rideNumber;
        if (!rows.insertRow(QStringLiteral("planning"), row, &error))
            fail(error);

        found = database.exec(LookupByKey, { key }, &error);
        if (!found)
            fail(error);
        if (found->rows.isEmpty())
            fail(QStringLiteral("the row of ride %1 is not found by its key").arg(rideNumber));
        const int id = found->rows.constFirst().at(0).toInt();
        if (!rows.insertRow(QStringLiteral("TRANSACTIES"), journalRow(id), &error))
            fail(error);
        if (commit.rides == 0 || started.size() == commit.rides || i == rides - 1) {
            if (commit.rides > 0 && !database.commit(&error))
                fail(error);
            const qint64 stored = total.nsecsElapsed();
            for (const qint64 start : std::as_const(started))
                result.latenciesMs << (stored - start) / 1e6;
            started.clear();
        }
    }
    result.seconds = total.nsecsElapsed() / 1e9;
    result.rides = rides;
    return result;
}

double percentile(QList<double> sorted, double share)
{
    if (sorted.isEmpty())
        return 0;
    const qsizetype rank = qsizetype(std::ceil(share * sorted.size()));
    return sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The database floor of the ride intake: the statements of a new ride, N times, without TCP or decoding."));
    parser.addHelpOption();
    const QCommandLineOption sqlite(
        QStringLiteral("sqlite"), QStringLiteral("SQLite file (created)."), QStringLiteral("FILE"));
    const QCommandLineOption pg(QStringLiteral("pg"),
        QStringLiteral("PostgreSQL database with the planning schema applied."),
        QStringLiteral("host:port:db:user:password"));
    const QCommandLineOption rides(QStringLiteral("rides"), QStringLiteral("Rides to write (default 2000)."),
        QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption firstRide(QStringLiteral("first-ride"),
        QStringLiteral("Ride number of the first ride (default 1)."), QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption through(QStringLiteral("through"),
        QStringLiteral("raw: prepared QSqlQuery statements (the floor); database: the "
                       "link's Database class."),
        QStringLiteral("raw|database"), QStringLiteral("raw"));
    const QCommandLineOption commitOption(QStringLiteral("commit"),
        QStringLiteral("statement: every statement commits on its own; ride: one transaction per ride; N: N rides "
                       "per transaction."),
        QStringLiteral("statement|ride|N"), QStringLiteral("statement"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the figures as one JSON line too."));
    parser.addOptions({ sqlite, pg, rides, firstRide, through, commitOption, json });
    parser.process(app);

    const std::optional<Target> target = parseTarget(parser, sqlite, pg);
    bool ok = false;
    const int count = parser.value(rides).toInt(&ok);
    bool firstOk = false;
    const int first = parser.value(firstRide).toInt(&firstOk);
    const QString layer = parser.value(through);
    CommitEvery commit;
    const QString commitText = parser.value(commitOption);
    bool commitOk = true;
    if (commitText == QLatin1String("ride"))
        commit.rides = 1;
    else if (commitText != QLatin1String("statement"))
        commit.rides = commitText.toInt(&commitOk);
    if (!target || !ok || count < 1 || !firstOk || first < 1 || !commitOk || commit.rides < 0
        || (layer != QLatin1String("raw") && layer != QLatin1String("database"))) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    const Result result = layer == QLatin1String("raw") ? runRaw(*target, count, first, commit)
                                                        : runThroughDatabase(*target, count, first, commit);
    QList<double> sorted = result.latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const double perSecond = result.seconds > 0 ? result.rides / result.seconds : 0;
    const double median = percentile(sorted, 0.5);
    const double p99 = percentile(sorted, 0.99);
    const double max = sorted.isEmpty() ? 0 : sorted.last();
    const QString kind = target->sqlite ? QStringLiteral("sqlite") : QStringLiteral("postgresql");

    std::printf("%s floor (%s, commit every %s): %d rides in %.3f s: %.1f rides/s; per ride median %.3f ms, p99 %.3f "
                "ms, max %.3f ms\n",
        qPrintable(kind), qPrintable(layer), qPrintable(commit.name()), result.rides, result.seconds, perSecond, median,
        p99, max);
    if (parser.isSet(json)) {
        const auto ms = [](double value) { return std::round(value * 1000) / 1000; };
        const QJsonObject summary {
            { QStringLiteral("database"), kind },
            { QStringLiteral("through"), layer },
            { QStringLiteral("commit"), commit.name() },
            { QStringLiteral("rides"), result.rides },
            { QStringLiteral("seconds"), std::round(result.seconds * 1e6) / 1e6 },
            { QStringLiteral("ridesPerSecond"), std::round(perSecond * 10) / 10 },
            { QStringLiteral("latencyMedianMs"), ms(median) },
            { QStringLiteral("latencyP99Ms"), ms(p99) },
            { QStringLiteral("latencyMaxMs"), ms(max) },
        };
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}

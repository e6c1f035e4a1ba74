#include "platform/Database.h"

#include <array>
#include <unordered_map>
#include <utility>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVersionNumber>

#include "platform/DatabaseDeadline.h"
#include "platform/DatabaseDrivers.h"
#include "platform/DateTimeText.h"
#include "platform/DbConnectionString.h"
#include "platform/Decimal.h"
#include "platform/FileIdentity.h"
#include "platform/PlanningSchema.h"

namespace {

constexpr qsizetype MaxCachedStatements = 64; // callers use a handful of fixed texts; this only bounds a leak

const QString Aborted = QStringLiteral("Operation aborted");

// INSERT ... RETURNING came with this SQLite version.
const QVersionNumber SqliteReturning(3, 35, 0);

Database::Dialect dialectOf(const QString &server, QString *rest)
{
    const auto prefixed = [&](QLatin1String prefix) {
        if (!server.startsWith(prefix, Qt::CaseInsensitive))
            return false;
        if (rest)
            *rest = server.mid(prefix.size());
        return true;
    };
    if (prefixed(QLatin1String("sqlite:")))
        return Database::Dialect::SQLite;
    if (prefixed(QLatin1String("postgresql:")))
        return Database::Dialect::PostgreSQL;
    if (prefixed(QLatin1String("odbc:")))
        return Database::Dialect::Odbc;
    if (rest)
        *rest = server;
    return Database::Dialect::SqlServer;
}

// A NUL in a text is stored as '?' like any character the code page cannot hold: PostgreSQL refuses it in text,
// and elsewhere it would cut the value short for whoever reads it.
QVariant withoutNul(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<QString>() || value.isNull())
        return value;
    const QString text = value.toString();
    if (!text.contains(QChar(u'\0')))
        return value;
    QString cleaned = text;
    cleaned.replace(QChar(u'\0'), QLatin1Char('?'));
    return cleaned;
}

} // namespace

struct Database::Private
{
    Private(LoginSource source, const QString &home)
        : login(std::move(source))
        , homeDir(home)
    { }

    const LoginSource login;
    const QString homeDir;
    QString connectionName;
    QSqlDatabase db; // invalid while closed
    Dialect openDialect = Dialect::SqlServer;
    // A prepared statement and the values bound to it last: Qt keeps bound values from one run to the next, and binding
    // one costs more than seeing that it did not change (Qt 6.4 formats a placeholder name for every positional bind).
    struct Prepared
    {
        QSqlQuery query;
        QVariantList bound;
        explicit Prepared(const QSqlDatabase &db)
            : query(db)
        { }
    };
    std::unordered_map<QString, std::unique_ptr<Prepared>> statements; // by SQL text, for this connection
    // The statements used last, found by the identity of their text: the intake runs the same few texts, kept by
    // their callers, ride after ride, and hashing a long INSERT for every row costs more than the row's binds. A text
    // held here cannot be freed or changed in place, so the same characters at the same address are the same text.
    struct Recent
    {
        QString sql;
        Prepared *prepared = nullptr;
    };
    std::array<Recent, 8> recent;
    std::size_t nextRecent = 0;

    Prepared *recentlyUsed(const QString &sql) const
    {
        for (const Recent &entry : recent) {
            if (entry.prepared && entry.sql.constData() == sql.constData() && entry.sql.size() == sql.size())
                return entry.prepared;
        }
        return nullptr;
    }
    void forgetStatements()
    {
        recent.fill(Recent());
        statements.clear();
    }
    quint64 connection = 0; // counts the closes
    bool transaction = false;
    bool lastBusy = false;
    bool lastTimeout = false;
    bool answerLost = false; // a bounded wait ran out outside a statement: the next statement fails as unanswered
    bool failing = false; // the last connect or statement failed
    bool returning = false; // the open database takes INSERT ... RETURNING
    int socket = -1; // of the open PostgreSQL connection, for the bound on every wait for its answer
    QString sqlitePath; // the open SQLite file's path, and the files it and its log named when the link opened it
    std::optional<FileIdentity> sqliteFile;
    std::optional<FileIdentity> sqliteWal;
    std::optional<FileIdentity> sqliteShm;

    // Bounds one call into the driver that waits for the server's answer (PostgreSQL; nothing elsewhere).
    DatabaseDeadline deadline() const { return DatabaseDeadline(socket, DatabaseDrivers::AnswerBound); }
};

Database::Database(LoginSource login, const QString &homeDir, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>(std::move(login), homeDir))
{
    d->connectionName = QStringLiteral("bsa-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

Database::~Database()
{
    close();
}

bool Database::open(QString *error, bool *aborted)
{
    if (aborted)
        *aborted = false;
    if (isOpen()) {
        // Before the next write, not inside one: a transaction is checked once more when it commits.
        if (d->transaction || d->openDialect != Dialect::SQLite || !sqliteFileReplaced())
            return true;
        leaveReplacedSqliteFile();
    }
    close();
    const DatabaseLogin login = d->login();
    if (login.server.isEmpty()) {
        // No server configured: the connect is abandoned without a word, except to whoever asks.
        if (aborted)
            *aborted = true;
        if (error)
            *error = Aborted;
        return false;
    }
    QString reason;
    if (!connectNow(login, &reason)) {
        close();
        d->lastBusy = false;
        failedNow(reason);
        if (error)
            *error = reason;
        return false;
    }
    emit connected();
    return true;
}

bool Database::connectNow(const DatabaseLogin &login, QString *error)
{
    QString target;
    const Dialect dialect = dialectOf(login.server, &target);
    d->openDialect = dialect;
    // The Windows program has no PostgreSQL driver of its own: there PostgreSQL is reached through psqlODBC.
    if (dialect == Dialect::PostgreSQL && !QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        if (error)
            *error = NoPostgresqlDriver;
        return false;
    }
    switch (dialect) {
    case Dialect::SQLite: {
        d->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->connectionName);
        const QString path = QDir(d->homeDir).absoluteFilePath(target);
        QDir().mkpath(QFileInfo(path).absolutePath());
        d->db.setDatabaseName(path);
        d->sqlitePath = path;
        // No waiting inside SQLite for another program's lock: it would freeze the one thread. A busy file fails
        // the statement at once, and the caller tries again from a timer.
        d->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        break;
    }
    case Dialect::PostgreSQL: {
        d->db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d->connectionName);
        QString host = target.trimmed();
        const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
        const bool bareIpv6 = host.count(QLatin1Char(':')) > 1 && !host.startsWith(QLatin1Char('['));
        if (colon >= 0 && !bareIpv6) {
            bool ok = false;
            const int port = host.mid(colon + 1).toInt(&ok);
            if (ok) {
                d->db.setPort(port);
                host.truncate(colon);
            }
        }
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        d->db.setHostName(host);
        d->db.setDatabaseName(login.database);
        d->db.setUserName(login.user);
        d->db.setPassword(login.password);
        // libpq would otherwise wait without end for a host that does not answer.
        d->db.setConnectOptions(DatabaseDrivers::postgresqlOptions());
        break;
    }
    case Dialect::Odbc:
    case Dialect::SqlServer:
        d->db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), d->connectionName);
        d->db.setDatabaseName(dialect == Dialect::Odbc
                ? target
                : DbConnectionString::sqlServer(login.server, login.database, login.user, login.password));
        d->db.setConnectOptions(DatabaseDrivers::odbcOptions());
        break;
    }

    if (!d->db.open()) {
        if (error)
            *error = d->db.lastError().text();
        return false;
    }
    if (dialect == Dialect::PostgreSQL)
        d->socket = DatabaseDrivers::postgresqlSocket(d->db);

    if (!prepareSession(error))
        return false;
    if (dialect == Dialect::SQLite) {
        d->sqliteFile = FileIdentity::of(d->sqlitePath);
        d->sqliteWal = FileIdentity::of(d->sqlitePath + QLatin1String("-wal"));
        d->sqliteShm = FileIdentity::of(d->sqlitePath + QLatin1String("-shm"));
    }
    return true;
}

bool Database::runSessionStatement(const QString &sql, QString *error)
{
    QSqlQuery query(d->db);
    bool ran = false;
    bool unanswered = false;
    {
        const DatabaseDeadline deadline = d->deadline();
        ran = runOnce(query, sql);
        unanswered = deadline.expired();
    }
    if (ran && !unanswered)
        return true;
    if (error)
        *error = unanswered ? QStringLiteral("%1: no answer from the database within %2 ms")
                                  .arg(sql)
                                  .arg(DatabaseDrivers::AnswerBound.count())
                            : QStringLiteral("%1: %2").arg(sql, query.lastError().text());
    return false;
}

// A statement of the link's own, run once and not kept. On ODBC it is prepared first, so that its bound is on it
// before it runs.
bool Database::runOnce(QSqlQuery &query, const QString &sql)
{
    if (d->openDialect != Dialect::Odbc && d->openDialect != Dialect::SqlServer)
        return query.exec(sql);
    if (!query.prepare(sql))
        return false;
    DatabaseDrivers::boundOdbcStatement(query);
    return query.exec();
}

// What every new connection gets before its first use.
bool Database::prepareSession(QString *error)
{
    const QString lockWait = QString::number(LockWaitMs);
    switch (d->openDialect) {
    case Dialect::SQLite: {
        // WAL with a full sync at every commit: a row the link reported as written survives a crash.
        for (const char *statement : { "PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL" }) {
            if (!runSessionStatement(QLatin1String(statement), error))
                return false;
        }
        QSqlQuery query(d->db);
        for (const QString &statement : PlanningSchema::sqliteStatements()) {
            if (!query.exec(statement)) {
                if (error)
                    *error = QStringLiteral("Creating the planning tables: %1").arg(query.lastError().text());
                return false;
            }
        }
        if (query.exec(QStringLiteral("SELECT sqlite_version()")) && query.next())
            d->returning = QVersionNumber::fromString(query.value(0).toString()) >= SqliteReturning;
        return true;
    }
    case Dialect::PostgreSQL:
        // A row or table locked by another program fails the statement after this wait instead of holding the one
        // thread until the lock goes; a statement that runs longer than its bound is ended by the server.
        d->returning = true;
        return runSessionStatement(QStringLiteral("SET lock_timeout = %1").arg(lockWait), error)
            && runSessionStatement(DatabaseDrivers::postgresqlStatementBound(), error);
    case Dialect::SqlServer:
        return runSessionStatement(QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWait), error);
    case Dialect::Odbc:
        // Any data source: the PostgreSQL and the SQL Server form are tried, and a source that knows neither waits
        // as its driver decides.
        if (!runSessionStatement(QStringLiteral("SET lock_timeout = %1").arg(lockWait), nullptr))
            runSessionStatement(QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWait), nullptr);
        return true;
    }
    return true;
}

void Database::close()
{
    d->transaction = false;
    d->returning = false;
    d->socket = -1;
    d->answerLost = false;
    d->sqliteFile.reset();
    d->sqliteWal.reset();
    d->sqliteShm.reset();
    d->forgetStatements();
    ++d->connection;
    if (d->db.isValid()) {
        d->db.close();
        d->db = QSqlDatabase();
    }
    if (QSqlDatabase::contains(d->connectionName))
        QSqlDatabase::removeDatabase(d->connectionName);
}

bool Database::isOpen() const
{
    return d->db.isValid() && d->db.isOpen();
}

bool Database::test(QString *error, bool *aborted)
{
    const bool ok = open(error, aborted);
    close();
    return ok;
}

Database::Dialect Database::dialect() const
{
    return isOpen() ? d->openDialect : dialectOf(d->login().server, nullptr);
}

bool Database::fail(const QString &what, const QSqlError &sqlError, QString *error, bool unanswered)
{
    const QString text = unanswered
        ? QStringLiteral("no answer from the database within %1 ms").arg(DatabaseDrivers::AnswerBound.count())
        : sqlError.text().trimmed();
    const QString reason = text.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, text);
    if (error)
        *error = reason;
    d->lastBusy = !unanswered && isBusy(sqlError);
    d->lastTimeout = unanswered || DatabaseDrivers::isTimeout(sqlError);
    if (d->lastTimeout) {
        // The server did not answer in time: the link does not wait for it any longer on this connection. Its
        // transaction ends with the connection (an ODBC connection must end it first to be let go).
        if (d->openDialect == Dialect::Odbc || d->openDialect == Dialect::SqlServer)
            rollback();
        close();
        failedNow(reason);
        return false;
    }
    // A failed statement ends the transaction it was in: PostgreSQL refuses every further statement of it anyway.
    rollback();
    // A statement can fail on its own, or because the server went away: only a trivial query tells which. The
    // error's type does not (SQLite calls a locked file a connection error).
    if (!d->lastBusy && !connectionAnswers())
        close(); // the next use connects anew
    failedNow(reason);
    return false;
}

bool Database::connectionAnswers()
{
    if (!d->db.isOpen())
        return false;
    QSqlQuery probe(d->db);
    const DatabaseDeadline deadline = d->deadline();
    const bool answered = runOnce(probe, QStringLiteral("SELECT 1"));
    return answered && !deadline.expired();
}

bool Database::sqliteFileReplaced() const
{
    return d->sqliteFile && !(FileIdentity::of(d->sqlitePath) == d->sqliteFile);
}

void Database::leaveReplacedSqliteFile()
{
    emit logLine(QStringLiteral("LET OP: HET DATABASEBESTAND %1 IS VERWIJDERD OF VERVANGEN. DE KOPPELING SCHRIJFT "
                                "VERDER IN HET BESTAND DAT NU OP DIE PLAATS STAAT, EEN NIEUW MET LEGE TABELLEN ALS "
                                "ER GEEN IS")
                     .arg(QDir::toNativeSeparators(d->sqlitePath)));
    const QString path = d->sqlitePath;
    const std::optional<FileIdentity> wal = d->sqliteWal;
    const std::optional<FileIdentity> shm = d->sqliteShm;
    close();
    // SQLite neither folds its log back into a file that moved nor removes the log when it lets go: left at the
    // path, the old file's log would be read into whatever file stands there now. The link's own log and index go,
    // where they are still there; another file's stay.
    const auto removeIfSame = [](const QString &companion, const std::optional<FileIdentity> &identity) {
        if (identity && FileIdentity::of(companion) == identity)
            QFile::remove(companion);
    };
    removeIfSame(path + QLatin1String("-wal"), wal);
    removeIfSame(path + QLatin1String("-shm"), shm);
}

void Database::failedNow(const QString &reason)
{
    d->failing = true;
    emit failed(reason, d->lastBusy);
}

// On every statement's way out: one test of a flag while nothing failed.
void Database::succeededNow()
{
    if (!d->failing)
        return;
    d->failing = false;
    emit recovered();
}

bool Database::isBusy(const QSqlError &sqlError) const
{
    const QString code = sqlError.nativeErrorCode();
    switch (d->openDialect) {
    case Dialect::SQLite:
        return code == QLatin1String("5") || code == QLatin1String("6"); // SQLITE_BUSY, SQLITE_LOCKED
    case Dialect::PostgreSQL:
        // lock_not_available (the lock wait ran out), deadlock_detected, serialization_failure
        return code == QLatin1String("55P03") || code == QLatin1String("40P01") || code == QLatin1String("40001");
    case Dialect::SqlServer:
    case Dialect::Odbc:
        // SQL Server's lock time-out and deadlock victim; through psqlodbc PostgreSQL's own words.
        return code == QLatin1String("1222") || code == QLatin1String("1205")
            || sqlError.text().contains(QLatin1String("lock timeout"), Qt::CaseInsensitive)
            || sqlError.text().contains(QLatin1String("55P03"));
    }
    return false;
}

bool Database::lastFailureWasBusy() const
{
    return d->lastBusy;
}

bool Database::lastFailureWasTimeout() const
{
    return d->lastTimeout;
}

bool Database::begin(QString *error)
{
    Q_ASSERT(!d->transaction);
    d->lastBusy = false;
    d->lastTimeout = false;
    if (!open(error))
        return false;
    if (d->openDialect == Dialect::SQLite) {
        // IMMEDIATE: the write lock now, or busy now. A transaction that read first and then found the file locked
        // by a writer could only be rolled back.
        if (!exec(QStringLiteral("BEGIN IMMEDIATE"), {}, error))
            return false;
    } else if (!callBounded(&QSqlDatabase::transaction, QStringLiteral("Starting a transaction"), error)) {
        return false;
    }
    d->transaction = true;
    return true;
}

// One call of the driver that waits for the server's answer, within the bound on that wait.
bool Database::callBounded(bool (QSqlDatabase::*call)(), const QString &what, QString *error)
{
    bool done = false;
    bool unanswered = false;
    {
        const DatabaseDeadline deadline = d->deadline();
        done = (d->db.*call)();
        unanswered = deadline.expired();
    }
    if (!done || unanswered)
        return fail(what, d->db.lastError(), error, unanswered);
    return true;
}

bool Database::commit(QString *error)
{
    if (!d->transaction)
        return true;
    d->lastBusy = false;
    d->lastTimeout = false;
    if (d->openDialect == Dialect::SQLite) {
        if (!exec(QStringLiteral("COMMIT"), {}, error))
            return false; // rolled back by exec
        d->transaction = false;
        if (sqliteFileReplaced()) {
            // Committed into a file that is no longer at its path: what it holds goes when the link lets it go.
            const QString reason
                = QStringLiteral("The database file %1 was removed or replaced while this was written to it")
                      .arg(QDir::toNativeSeparators(d->sqlitePath));
            if (error)
                *error = reason;
            leaveReplacedSqliteFile();
            failedNow(reason);
            return false;
        }
        return true;
    }
    if (!callBounded(&QSqlDatabase::commit, QStringLiteral("Committing"), error))
        return false;
    d->transaction = false;
    succeededNow();
    return true;
}

void Database::rollback()
{
    if (!d->transaction)
        return;
    d->transaction = false;
    if (!isOpen())
        return;
    const DatabaseDeadline deadline = d->deadline();
    if (d->openDialect == Dialect::SQLite)
        QSqlQuery(d->db).exec(QStringLiteral("ROLLBACK")); // SQLite may have ended it already after an I/O error
    else
        d->db.rollback(); // also turns ODBC's autocommit back on
}

bool Database::inTransaction() const
{
    return d->transaction;
}

QVariant Database::boundValue(const QVariant &value) const
{
    if (value.metaType() == QMetaType::fromType<Decimal>())
        return value.value<Decimal>().toString(); // exact: the database parses the decimal text itself
    if (value.metaType() == QMetaType::fromType<QDateTime>()) {
        const QDateTime dateTime = value.toDateTime();
        if (d->openDialect == Dialect::SQLite || d->openDialect == Dialect::PostgreSQL) {
            // Local wall-clock time as text: no time zone conversion on the way in.
            if (!dateTime.isValid())
                return QVariant(QMetaType::fromType<QString>());
            return DateTimeText::sql(dateTime);
        }
    }
    return withoutNul(value);
}

std::optional<QueryResult> Database::exec(const QString &sql, const QVariantList &values, QString *error)
{
    if (!open(error))
        return std::nullopt;

    Private::Prepared *recent = d->recentlyUsed(sql);
    auto cached = recent ? d->statements.end() : d->statements.find(sql);
    if (!recent && cached == d->statements.end()) {
        auto prepared = std::make_unique<Private::Prepared>(d->db);
        prepared->query.setForwardOnly(true); // every row is read once, straight into the result
        bool ready = false;
        bool unanswered = false;
        {
            const DatabaseDeadline deadline = d->deadline();
            ready = prepared->query.prepare(sql);
            unanswered = deadline.expired();
        }
        if (!ready || unanswered) {
            fail(QStringLiteral("Preparing \"%1\"").arg(sql), prepared->query.lastError(), error, unanswered);
            return std::nullopt;
        }
        if (d->openDialect == Dialect::Odbc || d->openDialect == Dialect::SqlServer)
            DatabaseDrivers::boundOdbcStatement(prepared->query); // a driver that refuses waits as it decides
        if (d->statements.size() >= MaxCachedStatements)
            d->forgetStatements();
        cached = d->statements.emplace(sql, std::move(prepared)).first;
    }
    if (!recent) {
        recent = cached->second.get();
        d->recent[d->nextRecent] = { sql, recent };
        d->nextRecent = (d->nextRecent + 1) % d->recent.size();
    }
    QSqlQuery &query = recent->query;
    QVariantList &bound = recent->bound;
    if (bound.size() != values.size())
        bound = QVariantList(values.size());
    for (int i = 0; i < values.size(); ++i) {
        QVariant value = boundValue(values.at(i));
        QVariant &last = bound[i];
        // A null of another type is another value: compare types first, so that 0 never stands for NULL.
        if (last.isValid() && last.metaType() == value.metaType() && last == value && last.isNull() == value.isNull())
            continue;
        query.bindValue(i, value);
        last = std::move(value);
    }

    // The statement runs, its rows are fetched and it is finished within one bound: PostgreSQL's driver waits for
    // the server at each of these steps.
    QueryResult result;
    QString failure;
    QSqlError sqlError;
    bool unanswered = false;
    {
        const DatabaseDeadline deadline = d->deadline();
        if (!query.exec()) {
            failure = QStringLiteral("Running \"%1\"").arg(sql);
            sqlError = query.lastError();
        } else if (query.isSelect()) {
            const int columns = query.record().count();
            while (query.next()) {
                QVariantList row;
                row.reserve(columns);
                for (int i = 0; i < columns; ++i)
                    row << query.value(i);
                result.rows << row;
            }
            // A fetch that broke off is a failure, not the end of the rows: a lookup that came back short would
            // send a known ride down the road of a new one.
            if (query.lastError().isValid()) {
                failure = QStringLiteral("Reading the rows of \"%1\"").arg(sql);
                sqlError = query.lastError();
            }
        } else {
            result.rowsAffected = query.numRowsAffected();
        }
        // Nothing stays open: an unfinished SELECT would hold an SQLite read snapshot, so that the WAL could never
        // be folded back into the file, and would keep an ODBC connection busy for the next statement.
        query.finish();
        unanswered = deadline.expired() || std::exchange(d->answerLost, false);
    }
    if (unanswered && failure.isEmpty())
        failure = QStringLiteral("Running \"%1\"").arg(sql); // the answer came, but the connection is gone with it
    if (!failure.isEmpty()) {
        fail(failure, sqlError, error, unanswered);
        return std::nullopt;
    }
    succeededNow();
    return result;
}

bool Database::takesReturning() const
{
    return d->returning;
}

quint64 Database::connectionSerial() const
{
    return d->connection;
}

QList<Database::DeclaredColumn> Database::columnsOf(const QString &table)
{
    QSqlRecord record;
    {
        // PostgreSQL's driver asks the server's catalog: the same bound as any statement.
        const DatabaseDeadline deadline = d->deadline();
        record = d->db.record(table);
        d->answerLost = deadline.expired();
    }
    QList<DeclaredColumn> columns;
    columns.reserve(record.count());
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField field = record.field(i);
        columns.append({ field.name(), field.metaType() == QMetaType::fromType<QString>(), field.length() });
    }
    return columns;
}

#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include "platform/DatabaseLogin.h"
#include "platform/QueryResult.h"

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// The one connection to the planning database, shared by every component. It connects at its first use,
// asking for the login anew each time, and reconnects at the next use after the connection was lost. Connects and
// statements are bounded in time (DatabaseDrivers), so that a database that stops answering holds the one thread
// for a few seconds at most. The login's server (the setting xLoginServer) picks the database:
//   sqlite:PATH              an SQLite file, PATH relative to the program folder; tables created when missing.
//                            A file removed or replaced while the link has it open is noticed before the next
//                            write, and the link goes on in the file now at PATH (a new one when there is none).
//   postgresql:HOST[:PORT]   PostgreSQL
//   odbc:CONNECTION-STRING   any ODBC data source, the connection string taken as it stands
//   anything else            Microsoft SQL Server over ODBC: HOST[\INSTANCE][,PORT]
class Database final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Database)
public:
    enum class Dialect { SQLite, PostgreSQL, SqlServer, Odbc };

    // Called before every connect, so that a changed login counts from the next connect on.
    using LoginSource = std::function<DatabaseLogin()>;

    Database(LoginSource login, const QString &homeDir, QObject *parent = nullptr);
    ~Database() override;

    // Connects when not connected. An empty server abandons the connect: false with "Operation aborted"
    // and *aborted set, so that callers can stay silent about it.
    bool open(QString *error, bool *aborted = nullptr);
    void close();
    bool isOpen() const;
    // The TEST button: open, then close again (also when it had been open before). *aborted as in open().
    bool test(QString *error, bool *aborted = nullptr);

    Dialect dialect() const; // of the open connection, or of the current login when closed

    // Runs one statement with positional (?) bound values, connecting first when needed, and gives back every row
    // it fetched. The prepared statement is kept for the next call with the same text. On failure: nullopt and
    // the driver's message; a lost connection is closed so that the next use connects again, and a transaction
    // that was open is rolled back.
    std::optional<QueryResult> exec(const QString &sql, const QVariantList &values, QString *error);

    // One transaction: every statement between begin() and commit() is stored together or not at all. On SQLite
    // begin() takes the write lock at once, so that a file locked by another program shows here, before anything
    // was done. A statement that fails inside the transaction rolls the whole of it back; so does a failed commit.
    // On SQLite a commit also fails when the file was removed or replaced meanwhile: what it stored is not at the
    // path.
    bool begin(QString *error);
    bool commit(QString *error);
    void rollback();
    bool inTransaction() const;

    // True when the last failure was a wait for another program's lock: SQLite's busy file, or a lock wait that ran
    // out on PostgreSQL or SQL Server. Such a statement fails at once (SQLite) or after a short wait of its own
    // (LockWait), so that a held lock never stops the one thread for long: the caller tries again later.
    bool lastFailureWasBusy() const;
    static constexpr int LockWaitMs = 100;
    // Why a postgresql: login cannot connect in a program without Qt's PostgreSQL driver (the Windows program).
    static inline const QString NoPostgresqlDriver = QStringLiteral(
        "Dit programma heeft geen PostgreSQL-driver (QPSQL): verbind via psqlODBC met xLoginServer_Text "
        "odbc:DRIVER={PostgreSQL Unicode(x64)};SERVER=host;PORT=5432;DATABASE=planning;UID=gebruiker;PWD=wachtwoord");
    // True when the last failure was a database that did not answer within its bound. The connection is closed
    // then; the next use connects again.
    bool lastFailureWasTimeout() const;

    // True when the open database takes INSERT ... RETURNING (SQLite 3.35 and later, PostgreSQL).
    bool takesReturning() const;
    // Which connection is open: a new number after every close, so that what was read of one connection's tables
    // is not taken for the next one's.
    quint64 connectionSerial() const;
    // The columns of a table as the driver reports them, within the bound on any answer. A list that did not come
    // in time is empty, and the failure shows at the statement that follows.
    struct DeclaredColumn
    {
        QString name;
        bool text = false;
        int length = -1; // the declared size; 0 or less when the driver does not say
    };
    QList<DeclaredColumn> columnsOf(const QString &table);

signals:
    void connected();
    // What the operator must hear of the connection itself: an SQLite file that went from under the link.
    void logLine(const QString &message);
    // Every failed connect or statement, with the message the caller was given; `busy` as lastFailureWasBusy().
    void failed(const QString &reason, bool busy);
    // The first statement that succeeded after a failure.
    void recovered();

private:
    struct Private;
    bool connectNow(const DatabaseLogin &login, QString *error);
    bool prepareSession(QString *error);
    bool runSessionStatement(const QString &sql, QString *error);
    bool runOnce(QSqlQuery &query, const QString &sql);
    bool callBounded(bool (QSqlDatabase::*call)(), const QString &what, QString *error);
    bool fail(const QString &what, const QSqlError &sqlError, QString *error, bool unanswered = false);
    bool connectionAnswers();
    bool sqliteFileReplaced() const;
    void leaveReplacedSqliteFile();
    void failedNow(const QString &reason);
    void succeededNow();
    bool isBusy(const QSqlError &sqlError) const;
    QVariant boundValue(const QVariant &value) const;

    std::unique_ptr<Private> d;
};

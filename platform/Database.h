#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantList>

#include "platform/ColumnValues.h"
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
    // The TEST button: open, then close again (also when it had been open before).
    bool test(QString *error);

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
    // True when the last failure was a database that did not answer within its bound. The connection is closed
    // then; the next use connects again.
    bool lastFailureWasTimeout() const;

    // INSERT and UPDATE ... WHERE keyColumn = key, every value bound. Texts are limited to the 8-bit code page
    // (except the wide memo columns) and cut to their columns' declared sizes; Decimals are bound exactly.
    // updateRow fails when no row has that key: a change that landed nowhere is not a write.
    bool insertRow(const QString &table, const ColumnValues &values, QString *error);
    // The same INSERT, giving back the new row's `idColumn` in *id where the database can say it in the INSERT itself
    // (SQLite 3.35 and later, PostgreSQL). Elsewhere *id stays invalid and the caller finds the row by a key it wrote:
    // SQL Server refuses an OUTPUT clause on a table with triggers, which planning tables at customers may have.
    bool insertRowReturningId(
        const QString &table, const ColumnValues &values, const QString &idColumn, QVariant *id, QString *error);
    bool updateRow(const QString &table, const ColumnValues &values, const QString &keyColumn, const QVariant &key,
        QString *error);

    // The declared size of a text column: the driver's where it reports one, otherwise the built-in table of
    // known columns; -1 for unlimited or unknown.
    int textColumnSize(const QString &table, const QString &column);

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
    struct RowStatement;
    const RowStatement &insertStatement(const QString &table, const ColumnValues &values, const QString &returning);
    const RowStatement &updateStatement(const QString &table, const ColumnValues &values, const QString &keyColumn);
    void describeColumns(RowStatement &statement, const ColumnValues &values);
    static QVariantList boundRow(const RowStatement &statement, const ColumnValues &values);
    bool fail(const QString &what, const QSqlError &sqlError, QString *error, bool unanswered = false);
    bool connectionAnswers();
    bool sqliteFileReplaced() const;
    void leaveReplacedSqliteFile();
    bool fail(const QString &what, const QSqlError &sqlError, QString *error);
    void failedNow(const QString &reason);
    void succeededNow();
    bool isBusy(const QSqlError &sqlError) const;
    QVariant boundValue(const QVariant &value) const;
    const QHash<QString, int> &columnSizes(const QString &table);
    int columnSize(const QString &table, const QString &column);

    std::unique_ptr<Private> d;
};

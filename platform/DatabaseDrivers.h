#pragma once

#include <chrono>

#include <QString>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

// What the link asks of each database driver beyond Qt's own interface: the bounds on connects and statements, and
// the driver's words for a wait that ran out.
namespace DatabaseDrivers {

// How long a database may hold the one thread: the rest of the link (every other connection, the timers) waits
// that long at most.
constexpr int ConnectBoundSeconds = 3; // a connect, login included
constexpr int StatementBoundSeconds = 4; // one statement, as the server or the ODBC driver counts it
// Any wait for PostgreSQL's answer, counted by the link itself: a little longer than the server's own bound, so
// that a server that still works ends its statement first and keeps the connection.
constexpr std::chrono::milliseconds AnswerBound { 5000 };
// TCP keep-alive of an idle PostgreSQL connection, so that a server gone without a word is noticed.
constexpr int KeepAliveIdleSeconds = 10;
constexpr int KeepAliveIntervalSeconds = 2;
constexpr int KeepAliveCount = 3;

// libpq's connect options: the connect bound, keep-alives, and a bound on data sent that the server never
// acknowledges.
QString postgresqlOptions();
// QODBC's connect options: login bound and the bound on the driver's other requests.
QString odbcOptions();
// The statement bound that the PostgreSQL server applies to the session.
QString postgresqlStatementBound();

// The socket of an open PostgreSQL connection; -1 when there is none or it cannot be known.
int postgresqlSocket(const QSqlDatabase &db);
// Sets the statement bound on a prepared ODBC statement; false when the driver refuses it.
bool boundOdbcStatement(const QSqlQuery &query);

// Whether the failure is a statement or login that ran out of time: PostgreSQL's statement time-out, or ODBC's
// SQLSTATE HYT00/HYT01.
bool isTimeout(const QSqlError &error);

} // namespace DatabaseDrivers

#include "platform/DatabaseDrivers.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVariant>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#ifdef Q_OS_UNIX
#include <libpq-fe.h>
#endif

namespace DatabaseDrivers {

QString postgresqlOptions()
{
    // QPSQL hands these to libpq with every ';' made a space.
    return QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=%2;keepalives_interval=%3;"
                          "keepalives_count=%4;tcp_user_timeout=%5")
        .arg(ConnectBoundSeconds)
        .arg(KeepAliveIdleSeconds)
        .arg(KeepAliveIntervalSeconds)
        .arg(KeepAliveCount)
        .arg(AnswerBound.count());
}

QString odbcOptions()
{
    return QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
        .arg(ConnectBoundSeconds)
        .arg(StatementBoundSeconds);
}

QString postgresqlStatementBound()
{
    return QStringLiteral("SET statement_timeout = %1").arg(StatementBoundSeconds * 1000);
}

int postgresqlSocket(const QSqlDatabase &db)
{
#ifdef Q_OS_UNIX
    const QSqlDriver *driver = db.driver();
    if (!driver || !db.isOpen())
        return -1;
    const QVariant handle = driver->handle();
    // QPSQL hands out its PGconn, under the name of the struct behind it.
    const bool connection = handle.isValid()
        && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0);
    if (!connection)
        return -1;
    PGconn *pg = *static_cast<PGconn *const *>(handle.constData());
    return pg ? PQsocket(pg) : -1;
#else
    Q_UNUSED(db);
    return -1;
#endif
}

bool boundOdbcStatement(const QSqlQuery &query)
{
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != int(sizeof(SQLHANDLE)))
        return false;
    SQLHANDLE statement = *static_cast<const SQLHANDLE *>(handle.constData());
    if (!statement)
        return false;
    const SQLRETURN result = SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(StatementBoundSeconds)), 0);
    return SQL_SUCCEEDED(result);
}

bool isTimeout(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    const QString text = error.text();
    return code == QLatin1String("57014") // PostgreSQL: canceling statement due to statement timeout
        || code.contains(QLatin1String("HYT00")) || code.contains(QLatin1String("HYT01"))
        || text.contains(QLatin1String("HYT00")) || text.contains(QLatin1String("HYT01"))
        || text.contains(QLatin1String("timeout expired"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("statement timeout"), Qt::CaseInsensitive);
}

} // namespace DatabaseDrivers

#pragma once

#include <QString>

// Connection strings for the ODBC drivers: values are quoted so that a password or a server name can never add
// or change a key of the string.
namespace DbConnectionString {

// The value as an ODBC connection string may hold it: unchanged when harmless, otherwise in braces with every
// '}' doubled.
QString odbcValue(const QString &value);

// SQL Server at HOST[\INSTANCE][,PORT]: the FreeTDS driver on Linux (TDS 7.4, UTF-8), the SQL Server driver on
// Windows.
QString sqlServer(const QString &server, const QString &database, const QString &user, const QString &password);

} // namespace DbConnectionString

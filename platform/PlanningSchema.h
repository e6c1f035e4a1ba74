#pragma once

#include <QString>
#include <QStringList>

// What the link knows of the planning tables without asking the database: the declared sizes of the 8-bit text
// columns, which columns hold wide text, and the SQLite schema that a new database file receives.
namespace PlanningSchema {

// The declared size of a known text column of planning or TRANSACTIES (names in any case); -1 when unknown.
int knownTextSize(const QString &table, const QString &column);

// True for the memo columns, which keep every character: they are not limited to the 8-bit code page.
bool isWideText(const QString &column);

// The statements of sql/sqlite/schema.sql, built into the program; each may run again on an existing file.
QStringList sqliteStatements();

// The statements of an SQL script: split at semicolons outside quoted text, "--" comments dropped.
QStringList splitStatements(const QString &script);

} // namespace PlanningSchema

#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "platform/ColumnValues.h"

class Database;

// The row writes of the planning tables on one Database: INSERT and UPDATE ... WHERE keyColumn = key, every value
// bound. Texts are limited to the 8-bit code page (except the wide memo columns) and cut to their columns' declared
// sizes; Decimals are bound exactly. The statement text of the last write of each shape is kept with what each of its
// columns allows, for the open connection.
class RowStatements
{
    Q_DISABLE_COPY_MOVE(RowStatements)
public:
    explicit RowStatements(Database &database);

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

private:
    // The statement text of the last row write of each shape, with what each column allows: the intake writes the
    // same columns ride after ride, and building and hashing a long INSERT and looking up every column's size anew
    // each time costs more than comparing the names.
    struct Statement
    {
        QString table;
        QStringList columns;
        QString keyColumn;
        QString sql;
        struct Column
        {
            int size = -1; // the declared text size; -1 for unlimited or unknown
            bool wide = false; // the memo: any character, never cut
        };
        QList<Column> rules; // of the open connection; empty until described
    };

    const Statement &insertStatement(const QString &table, const ColumnValues &values, const QString &returning);
    const Statement &updateStatement(const QString &table, const ColumnValues &values, const QString &keyColumn);
    void describeColumns(Statement &statement, const ColumnValues &values);
    static QVariantList boundRow(const Statement &statement, const ColumnValues &values);
    const QHash<QString, int> &columnSizes(const QString &table);
    int columnSize(const QString &table, const QString &column);
    void forgetOtherConnection();

    Database &m_database;
    quint64 m_connection = 0; // the Database's connection that the sizes and rules below were read from
    QHash<QString, QHash<QString, int>> m_textSizes; // lower-case table -> lower-case column -> declared size
    Statement m_lastInsert;
    Statement m_lastInsertReturning;
    Statement m_lastUpdate;
};

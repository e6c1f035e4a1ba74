#include "platform/RowStatements.h"

#include <optional>

#include "codec/AnsiCodePage.h"
#include "platform/Database.h"
#include "platform/PlanningSchema.h"

namespace {

bool isIdentifier(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_')) || c.unicode() > 0x7F)
            return false;
    }
    return true;
}

bool sameColumns(const QStringList &columns, const ColumnValues &values)
{
    if (columns.size() != values.size())
        return false;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns.at(i) != values.at(i).first)
            return false;
    }
    return true;
}

} // namespace

RowStatements::RowStatements(Database &database)
    : m_database(database)
{ }

// The next connection may have other column sizes.
void RowStatements::forgetOtherConnection()
{
    const quint64 connection = m_database.connectionSerial();
    if (connection == m_connection)
        return;
    m_connection = connection;
    m_textSizes.clear();
    for (Statement *statement : { &m_lastInsert, &m_lastInsertReturning, &m_lastUpdate })
        statement->rules.clear();
}

const QHash<QString, int> &RowStatements::columnSizes(const QString &table)
{
    auto found = m_textSizes.constFind(table);
    if (found != m_textSizes.constEnd())
        return *found;
    const QString key = table.toLower();
    found = m_textSizes.constFind(key);
    if (found != m_textSizes.constEnd())
        return *found;
    QHash<QString, int> sizes;
    for (const Database::DeclaredColumn &declared : m_database.columnsOf(table)) {
        const QString column = declared.name.toLower();
        int size = -1;
        // The memo is never cut: a driver's figure for it (psqlodbc says 8190 for text) is a fetch limit, not
        // the column's.
        if (PlanningSchema::isWideText(column))
            size = -1;
        else if (declared.text && declared.length > 0)
            size = declared.length;
        else
            size = PlanningSchema::knownTextSize(table, column);
        sizes.insert(column, size);
    }
    return *m_textSizes.insert(key, sizes);
}

int RowStatements::textColumnSize(const QString &table, const QString &column)
{
    if (!m_database.isOpen() && !m_database.open(nullptr))
        return PlanningSchema::knownTextSize(table, column);
    forgetOtherConnection();
    return columnSize(table, column);
}

// On the hot path of every row written: the column names are lower case already, so the usual lookup needs no
// lowering, and the table of known sizes is only consulted for a column the driver did not list.
int RowStatements::columnSize(const QString &table, const QString &column)
{
    const QHash<QString, int> &sizes = columnSizes(table);
    auto found = sizes.constFind(column);
    if (found == sizes.constEnd())
        found = sizes.constFind(column.toLower());
    return found != sizes.constEnd() ? *found : PlanningSchema::knownTextSize(table, column);
}

// Every text as its column takes it: restricted to the code page (the memo excepted) and cut to the declared size.
QVariantList RowStatements::boundRow(const Statement &statement, const ColumnValues &values)
{
    QVariantList bound;
    bound.reserve(values.size() + 1);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant &value = values.at(i).second;
        if (value.metaType() != QMetaType::fromType<QString>() || value.isNull()) {
            bound << value;
            continue;
        }
        const Statement::Column &rule = statement.rules.at(i);
        QString text = value.toString();
        if (!rule.wide)
            text = AnsiCodePage::restrict(text);
        if (rule.size > 0 && text.size() > rule.size)
            text.truncate(rule.size);
        bound << text;
    }
    return bound;
}

void RowStatements::describeColumns(Statement &statement, const ColumnValues &values)
{
    statement.rules.clear();
    statement.rules.reserve(values.size());
    for (const auto &[column, value] : values)
        statement.rules.append({ columnSize(statement.table, column), PlanningSchema::isWideText(column) });
}

const RowStatements::Statement &RowStatements::insertStatement(
    const QString &table, const ColumnValues &values, const QString &returning)
{
    forgetOtherConnection();
    Statement &statement = returning.isEmpty() ? m_lastInsert : m_lastInsertReturning;
    if (statement.table != table || statement.keyColumn != returning || !sameColumns(statement.columns, values)) {
        QStringList columns;
        QStringList marks;
        for (const auto &[column, value] : values) {
            Q_ASSERT(isIdentifier(column));
            columns << column;
            marks << QStringLiteral("?");
        }
        statement.sql = columns.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
        if (!returning.isEmpty())
            statement.sql += QStringLiteral(" RETURNING ") + returning;
        statement.table = table;
        statement.keyColumn = returning;
        statement.columns = columns;
        statement.rules.clear();
    }
    if (statement.rules.size() != values.size())
        describeColumns(statement, values);
    return statement;
}

const RowStatements::Statement &RowStatements::updateStatement(
    const QString &table, const ColumnValues &values, const QString &keyColumn)
{
    forgetOtherConnection();
    Statement &statement = m_lastUpdate;
    if (statement.table != table || statement.keyColumn != keyColumn || !sameColumns(statement.columns, values)) {
        QStringList columns;
        QStringList assignments;
        for (const auto &[column, value] : values) {
            Q_ASSERT(isIdentifier(column));
            columns << column;
            assignments << column + QLatin1String(" = ?");
        }
        statement.sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                            .arg(table, assignments.join(QLatin1String(", ")), keyColumn);
        statement.table = table;
        statement.keyColumn = keyColumn;
        statement.columns = columns;
        statement.rules.clear();
    }
    if (statement.rules.size() != values.size())
        describeColumns(statement, values);
    return statement;
}

bool RowStatements::insertRow(const QString &table, const ColumnValues &values, QString *error)
{
    Q_ASSERT(isIdentifier(table));
    if (!m_database.open(error))
        return false;
    const Statement &statement = insertStatement(table, values, QString());
    return m_database.exec(statement.sql, boundRow(statement, values), error).has_value();
}

bool RowStatements::insertRowReturningId(
    const QString &table, const ColumnValues &values, const QString &idColumn, QVariant *id, QString *error)
{
    Q_ASSERT(isIdentifier(table) && isIdentifier(idColumn));
    *id = QVariant();
    if (!m_database.open(error))
        return false;
    if (!m_database.takesReturning())
        return insertRow(table, values, error);
    const Statement &statement = insertStatement(table, values, idColumn);
    const std::optional<QueryResult> result = m_database.exec(statement.sql, boundRow(statement, values), error);
    if (!result)
        return false;
    if (!result->rows.isEmpty() && !result->rows.constFirst().isEmpty())
        *id = result->rows.constFirst().constFirst();
    return true;
}

bool RowStatements::updateRow(
    const QString &table, const ColumnValues &values, const QString &keyColumn, const QVariant &key, QString *error)
{
    Q_ASSERT(isIdentifier(table) && isIdentifier(keyColumn));
    if (values.isEmpty())
        return true;
    if (!m_database.open(error))
        return false;
    const Statement &statement = updateStatement(table, values, keyColumn);
    QVariantList bound = boundRow(statement, values);
    bound << key;
    const std::optional<QueryResult> result = m_database.exec(statement.sql, bound, error);
    if (!result)
        return false;
    if (result->rowsAffected == 0) {
        // The row went away after it was read: a change that landed nowhere must not count as written.
        if (error)
            *error = QStringLiteral("No row of %1 with %2 = %3 to change").arg(table, keyColumn, key.toString());
        return false;
    }
    return true;
}

#pragma once

#include <optional>

#include <QDateTime>
#include <QVariant>

#include "platform/ColumnValues.h"
#include "platform/Database.h"
#include "platform/RowStatements.h"

// Planning rows as the planning side leaves them for the status feedback, written through the link's own database
// connection so that SQLite and PostgreSQL get the same values.
namespace PlanningRows {

inline QVariant nullOf(QMetaType type)
{
    return QVariant(type);
}

// The ride of the worked example: BSA ride 812, vehicle 17, delivered ("L"), 23.50, assigned at 14:05, at its
// destination at 14:30 and free at 14:35 on 9 January 2011; a BSA ride (owner "010") waiting for its message.
inline ColumnValues deliveredRide()
{
    const QDate day(2011, 1, 9);
    return {
        { QStringLiteral("pla_extern_ritnummer"), 812 },
        { QStringLiteral("pla_wagen"), 17 },
        { QStringLiteral("pla_status"), QStringLiteral("L") },
        { QStringLiteral("pla_bedrag_1"), QVariant::fromValue(Decimal { 2350, 2 }) },
        { QStringLiteral("pla_tijdstip_toewijzen"), QDateTime(day, QTime(14, 5)) },
        { QStringLiteral("pla_tijdstip_bestemmen"), QDateTime(day, QTime(14, 30)) },
        { QStringLiteral("pla_tijdstip_vrijmelden"), QDateTime(day, QTime(14, 35)) },
        { QStringLiteral("pla_eigenaar"), QStringLiteral("010") },
        { QStringLiteral("pla_retour_rbs"), 1 },
    };
}

// The ride with some columns set otherwise.
inline ColumnValues with(ColumnValues row, const ColumnValues &changes)
{
    for (const auto &[column, value] : changes) {
        bool replaced = false;
        for (auto &entry : row) {
            if (entry.first == column) {
                entry.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            row.append({ column, value });
    }
    return row;
}

// Inserts the row and gives its pla_id; nothing when the database refused.
inline std::optional<int> add(Database &database, const ColumnValues &row, QString *error)
{
    if (!RowStatements(database).insertRow(QStringLiteral("planning"), row, error))
        return std::nullopt;
    const std::optional<QueryResult> last
        = database.exec(QStringLiteral("SELECT max(pla_id) FROM planning"), {}, error);
    if (!last || last->rows.isEmpty())
        return std::nullopt;
    return last->rows.constFirst().at(0).toInt();
}

// The pla_retour_rbs of a row, "NULL" for none, "<gone>" when the row is not there.
inline QString retourRbs(Database &database, int plaId)
{
    QString error;
    const std::optional<QueryResult> found
        = database.exec(QStringLiteral("SELECT pla_retour_rbs FROM planning WHERE pla_id = ?"), { plaId }, &error);
    if (!found)
        return error;
    if (found->rows.isEmpty())
        return QStringLiteral("<gone>");
    const QVariant value = found->rows.constFirst().at(0);
    return value.isNull() ? QStringLiteral("NULL") : value.toString();
}

} // namespace PlanningRows

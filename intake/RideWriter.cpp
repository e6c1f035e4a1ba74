#include "RideWriter.h"

#include <QDateTime>
#include <QVariant>

#include "codec/RitBSA.h"
#include "intake/Planningrij.h"
#include "intake/RideOutcome.h"
#include "platform/Database.h"

namespace {
const QString Accepted = QStringLiteral("AC");
const QString Refused = QStringLiteral("NC");
const QString Planning = QStringLiteral("planning");
const QString PlanningId = QStringLiteral("pla_id");
} // namespace

RideWriter::RideWriter(Database &database, const Settings &settings)
    : m_database(database)
    , m_rows(database)
    , m_settings(settings)
    , m_journal(database, settings)
    , m_tempKeys([this](const QString &key, QString *error) { return tempKeyInUse(key, error); })
{ }

bool RideWriter::VerwerkRit(const tRitBSA &rit, RideOutcome &outcome, QString *error)
{
    const std::optional<QueryResult> found = m_database.exec(
        QStringLiteral("SELECT pla_id, pla_status, pla_route, pla_temp FROM planning WHERE pla_extern_ritnummer = ? "
                       "ORDER BY pla_id"),
        { rit.BSRitnummer }, error);
    if (!found)
        return false;

    if (found->rows.isEmpty()) {
        const std::optional<QString> key = m_tempKeys.next(QDateTime::currentDateTime(), error);
        if (!key)
            return false;
        const Planningrij row = VulPlanningrij(rit, RideChange::New, m_settings, *key);
        if (!row.aanLogregel.isEmpty())
            outcome.log(row.aanLogregel);
        // The row tells its own id where the database can; elsewhere it is found again by the key just written.
        QVariant id;
        if (!m_rows.insertRowReturningId(Planning, row.columns, PlanningId, &id, error))
            return false;
        if (id.isValid()) {
            if (!m_journal.LogTransactie(0, id.toInt(), 0, 0, Transactie::NewRide, QString(), error))
                return false;
        } else if (!journalByTempKey(*key, Transactie::NewRide, error)) {
            return false;
        }
        outcome.log(QStringLiteral("<BN - NIEUWE RIT>"));
        outcome.answer(Accepted, rit.BSRitnummer, { QStringLiteral("<ACK - (BN) VERWERKT>") });
        return true;
    }

    // Several rows may carry the ride number: the oldest decides.
    const QVariantList &first = found->rows.constFirst();
    const int id = first.at(0).toInt();
    const QString status = first.at(1).toString();
    const int route = first.at(2).toInt(); // NULL reads as 0
    const QString key = first.at(3).toString();

    if (status != QLatin1String("W") || route != 0) {
        // Planned, assigned or under way: the planning side owns the ride now.
        outcome.answerThenLog(Refused, rit.BSRitnummer,
            { QStringLiteral("<BN - BESTAAT NIET MEER, TOEGEWEZEN OF IN ROUTE>"), QString(),
                QStringLiteral("<NACK - (BN) NIET VERWERKT>") });
        return true;
    }

    const Planningrij row = VulPlanningrij(rit, RideChange::Changed, m_settings, QString());
    if (!row.aanLogregel.isEmpty())
        outcome.log(row.aanLogregel);
    if (!m_rows.updateRow(Planning, row.columns, PlanningId, id, error))
        return false;
    // A row the planning side made itself has no key; looking up the empty key would journal unrelated rows.
    if (!key.isEmpty() && !journalByTempKey(key, Transactie::ChangedRide, error))
        return false;
    if (!m_journal.LogTransactie(0, id, 0, 0, Transactie::ChangedRide, QString(), error))
        return false;
    outcome.log(QStringLiteral("<BN - UPDATE RIT>"));
    outcome.answer(Accepted, rit.BSRitnummer, { QStringLiteral("<ACK - (BN) VERWERKT>") });
    return true;
}

bool RideWriter::VerwerkAnnulering(const tRitBSA &rit, RideOutcome &outcome, QString *error)
{
    const std::optional<QueryResult> found
        = m_database.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_extern_ritnummer = ? ORDER BY pla_id"),
            { rit.BSRitnummer }, error);
    if (!found)
        return false;
    if (!found->rows.isEmpty()) {
        const int id = found->rows.constFirst().at(0).toInt();
        // The row stays for the planning side to see; it is marked as cancelled by the client.
        const ColumnValues cancelled {
            { QStringLiteral("pla_eigenaar"), QStringLiteral("010") },
            { QStringLiteral("pla_opmerking"), QStringLiteral("(VERWIJDERD DOOR OPDRACHTGEVER)") },
            { QStringLiteral("pla_spoed"), 1 },
        };
        if (!m_rows.updateRow(Planning, cancelled, PlanningId, id, error))
            return false;
        if (!m_journal.LogTransactie(0, id, 0, 0, Transactie::CancelledRide, QString(), error))
            return false;
    }
    outcome.log(QStringLiteral("<VR>") + QString::number(rit.BSRitnummer));
    outcome.answer(Accepted, rit.BSRitnummer, { QStringLiteral("<ACK - (VR) VERWERKT>") });
    return true;
}

// Finds the row just written again by its temporary key and journals it. False on a database error.
bool RideWriter::journalByTempKey(const QString &key, int code, QString *error)
{
    const std::optional<QueryResult> found
        = m_database.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_temp = ?"), { key }, error);
    if (!found)
        return false;
    if (found->rows.isEmpty())
        return true;
    return m_journal.LogTransactie(0, found->rows.constFirst().at(0).toInt(), 0, 0, code, QString(), error);
}

std::optional<bool> RideWriter::tempKeyInUse(const QString &key, QString *error)
{
    const std::optional<QueryResult> found
        = m_database.exec(QStringLiteral("SELECT 1 FROM planning WHERE pla_temp = ?"), { key }, error);
    if (!found)
        return std::nullopt;
    return !found->rows.isEmpty();
}

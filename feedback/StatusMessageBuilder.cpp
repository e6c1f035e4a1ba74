#include "StatusMessageBuilder.h"

#include <optional>

#include <QVariant>

#include "codec/Envelope.h"
#include "feedback/OutgoingQueue.h"
#include "feedback/StatusBSA.h"
#include "feedback/StatusRow.h"
#include "platform/Database.h"
#include "settings/Settings.h"

namespace {

// Named rather than "*": a column the planning table lacks is an error, not a silent default.
const QString RowQuery
    = QStringLiteral("SELECT pla_extern_ritnummer, pla_tijdstip_toewijzen, pla_wagen, pla_tijdstip_bestemmen, "
                     "pla_tijdstip_vrijmelden, pla_bedrag_1, pla_status FROM planning WHERE pla_id = ?");

enum Column { Ritnummer, Toewijzen, Wagen, Bestemmen, Vrijmelden, Bedrag, Status, ColumnCount };

// The message of a ride BSA sent, from its planning row.
std::optional<tStatusBSA> statusOf(const QVariantList &row, int ritnummer, const Settings &settings, QString *error)
{
    tStatusBSA status = StatusStandaard();
    status.BSRitnummer = ritnummer;

    const std::optional<QString> toewijzen
        = StatusRow::dateTime(row.at(Toewijzen), QStringLiteral("pla_tijdstip_toewijzen"), error);
    if (!toewijzen)
        return std::nullopt;
    status.TijdToewijzen = *toewijzen;
    status.Veld6.clear();

    const std::optional<int> wagen = StatusRow::integer(row.at(Wagen), QStringLiteral("pla_wagen"), error);
    if (!wagen)
        return std::nullopt;
    status.Wagen = *wagen;
    status.Veld9 = QStringLiteral("O");

    const std::optional<QString> bestemmen
        = StatusRow::dateTime(row.at(Bestemmen), QStringLiteral("pla_tijdstip_bestemmen"), error);
    const std::optional<QString> vrijmelden = bestemmen
        ? StatusRow::dateTime(row.at(Vrijmelden), QStringLiteral("pla_tijdstip_vrijmelden"), error)
        : std::nullopt;
    if (!vrijmelden)
        return std::nullopt;
    status.TijdBestemmen = *bestemmen;
    status.TijdVrijmelden = *vrijmelden;

    const std::optional<int> centen = StatusRow::cents(row.at(Bedrag), QStringLiteral("pla_bedrag_1"), error);
    if (!centen)
        return std::nullopt;
    status.BedragCenten = *centen;

    // Exactly "L": a lower-case letter or a blank is another status.
    const bool geleverd = StatusRow::text(row.at(Status)) == QLatin1String("L");
    status.LVlagTekst = geleverd ? QStringLiteral("T") : QStringLiteral("F");
    status.LVlag = geleverd ? 1 : 0;

    status.Bedrijfsnummer = settings.number<&Settings::BSABedrijf>();
    return status;
}

} // namespace

StatusMessageBuilder::StatusMessageBuilder(
    Database &database, const Settings &settings, OutgoingQueue &queue, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_settings(settings)
    , m_queue(queue)
{ }

bool StatusMessageBuilder::MaakStatusmelding(int plaId, QString *queuedLine)
{
    if (queuedLine)
        queuedLine->clear();
    if (!m_settings.BSATerug)
        return false;

    QString error;
    bool aborted = false;
    if (!m_database.open(&error, &aborted)) {
        if (!aborted) // no planning database set up: nothing to say at every try
            emit exceptionRaised(error);
        return false;
    }
    const std::optional<QueryResult> found = m_database.exec(RowQuery, { plaId }, &error);
    if (!found) {
        emit exceptionRaised(error);
        return false;
    }
    if (found->rows.isEmpty())
        return true;
    const QVariantList &row = found->rows.constFirst();
    Q_ASSERT(row.size() == ColumnCount);

    const std::optional<int> ritnummer
        = StatusRow::integer(row.at(Ritnummer), QStringLiteral("pla_extern_ritnummer"), &error);
    if (!ritnummer) {
        emit exceptionRaised(error);
        return false;
    }
    if (*ritnummer <= 0)
        return true; // not a ride BSA sent: nothing to tell

    const std::optional<tStatusBSA> status = statusOf(row, *ritnummer, m_settings, &error);
    if (!status) {
        emit exceptionRaised(error);
        return false;
    }
    const QString text = StatusNaarTekst(*status);
    const QString line = QString::fromLatin1(TekstNaarHex(text));
    emit rawLogLine(text);
    m_queue.append(line);
    if (queuedLine)
        *queuedLine = line;
    return true;
}

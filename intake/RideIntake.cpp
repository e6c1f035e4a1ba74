#include "RideIntake.h"

#include <QDateTime>
#include <QVariant>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/RitBSA.h"
#include "intake/Planningrij.h"
#include "codec/AnsiCodePage.h"
#include "platform/BSAConnection.h"
#include "platform/Database.h"
#include "settings/Settings.h"

namespace {
const QString StartTag = QStringLiteral("<ZORVAN>");
const QString EndTag = QStringLiteral("<EINDE>");
const QString Accepted = QStringLiteral("AC");
const QString Refused = QStringLiteral("NC");
} // namespace

RideIntake::RideIntake(Database &database, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_settings(settings)
    , m_journal(database, settings)
    , m_tempKeys(QDateTime::currentDateTime(), [this](const QString &key) { return tempKeyInUse(key); })
{
    connect(&m_journal, &Transactie::exceptionRaised, this, &RideIntake::exceptionRaised);
}

void RideIntake::BSAServerClientRead(BSAConnection *connection, const QByteArray &payload)
{
    emit logLine(QStringLiteral("SI: ") + StartTag + AnsiCodePage::decode(payload) + EndTag);
    const QString text = HexNaarTekst(payload);

    QStringList fields;
    tRitBSA rit;
    QString error;
    if (!TekstNaarRit(MarkeerRegeleinden(text), rit, &error)) {
        sendGeneralRefusal(connection);
        emit pakketIn(fields);
        return;
    }
    const QString shown = WeergaveTekst(text);
    emit rawLogLine(QStringLiteral("SI: ") + shown);
    fields = WeergaveVelden(text);
    emit logLine(QStringLiteral("00: PAKKET RITNUMMER = ") + QString::number(rit.BSRitnummer));
    emit logLine(QStringLiteral("00: PAKKET SOORT = ") + rit.Soort);

    const bool isRide = rit.Soort == QLatin1String("BN");
    const bool isCancellation = rit.Soort == QLatin1String("BV");
    if (isRide || isCancellation) {
        // Ride number 0 or less is what BSA's field becomes when it is not a number: it names no ride, and
        // acting on it would change or cancel whatever rows happen to carry 0.
        QString databaseError;
        const bool handled = rit.BSRitnummer > 0
            && (isRide ? VerwerkRit(rit, connection, &databaseError)
                       : VerwerkAnnulering(rit, connection, &databaseError));
        if (!handled) {
            // BSA hears only "NC"; the operator sees why: the database's own message comes first.
            if (!databaseError.isEmpty())
                emit exceptionRaised(databaseError);
            sendGeneralRefusal(connection);
        }
    }
    // Any other kind gets no answer: BSA expects none.
    emit pakketIn(fields);
}

bool RideIntake::VerwerkRit(const tRitBSA &rit, BSAConnection *connection, QString *error)
{
    const std::optional<QueryResult> found = m_database.exec(
        QStringLiteral("SELECT pla_id, pla_status, pla_route, pla_temp FROM planning WHERE pla_extern_ritnummer = ? "
                       "ORDER BY pla_id"),
        { rit.BSRitnummer }, error);
    if (!found)
        return false;

    if (found->rows.isEmpty()) {
        const QString key = m_tempKeys.next(QDateTime::currentDateTime());
        const Planningrij row = VulPlanningrij(rit, RitWijziging::Nieuw, m_settings, key);
        if (!row.aanLogregel.isEmpty())
            emit logLine(row.aanLogregel);
        // The statement commits on its own: once it returns true the ride survives anything that follows, so
        // only then may BSA hear "AC".
        if (!m_database.insertRow(QStringLiteral("planning"), row.kolommen, error))
            return false;
        if (!journalByTempKey(key, Transactie::NewRide, error))
            return false;
        emit logLine(QStringLiteral("<BN - NIEUWE RIT>"));
        if (StuurAntwoord(connection, Accepted, rit.BSRitnummer))
            emit logLine(QStringLiteral("<ACK - (BN) VERWERKT>"));
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
        QString coLine;
        if (sendAnswer(connection, Refused, rit.BSRitnummer, &coLine)) {
            emit logLine(QStringLiteral("<BN - BESTAAT NIET MEER, TOEGEWEZEN OF IN ROUTE>"));
            emit logLine(coLine);
            emit logLine(QStringLiteral("<NACK - (BN) NIET VERWERKT>"));
        }
        return true;
    }

    const Planningrij row = VulPlanningrij(rit, RitWijziging::Gewijzigd, m_settings, QString());
    if (!row.aanLogregel.isEmpty())
        emit logLine(row.aanLogregel);
    if (!m_database.updateRow(QStringLiteral("planning"), row.kolommen, QStringLiteral("pla_id"), id, error))
        return false;
    // A row the planning side made itself has no key; looking up the empty key would journal unrelated rows.
    if (!key.isEmpty() && !journalByTempKey(key, Transactie::ChangedRide, error))
        return false;
    m_journal.LogTransactie(0, id, 0, 0, Transactie::ChangedRide, QString());
    emit logLine(QStringLiteral("<BN - UPDATE RIT>"));
    if (StuurAntwoord(connection, Accepted, rit.BSRitnummer))
        emit logLine(QStringLiteral("<ACK - (BN) VERWERKT>"));
    return true;
}

bool RideIntake::VerwerkAnnulering(const tRitBSA &rit, BSAConnection *connection, QString *error)
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
        if (!m_database.updateRow(QStringLiteral("planning"), cancelled, QStringLiteral("pla_id"), id, error))
            return false;
        m_journal.LogTransactie(0, id, 0, 0, Transactie::CancelledRide, QString());
    }
    emit logLine(QStringLiteral("<VR>") + QString::number(rit.BSRitnummer));
    if (StuurAntwoord(connection, Accepted, rit.BSRitnummer))
        emit logLine(QStringLiteral("<ACK - (VR) VERWERKT>"));
    return true;
}

bool RideIntake::sendAnswer(BSAConnection *connection, const QString &soort, int ritnummer, QString *coLine)
{
    const QString text = AckNackNaarTekst(MaakAntwoord(soort, ritnummer));
    QString error;
    // bsaCRLF is read now, so that the operator's change counts from the next answer on.
    if (connection->send(Inpakken(text, m_settings.bsaCRLF), &error) < 0) {
        emit exceptionRaised(error);
        return false;
    }
    *coLine = QStringLiteral("CO: ") + StartTag + QString::fromLatin1(TekstNaarHex(text)) + EndTag;
    return true;
}

bool RideIntake::StuurAntwoord(BSAConnection *connection, const QString &soort, int ritnummer)
{
    QString coLine;
    if (!sendAnswer(connection, soort, ritnummer, &coLine))
        return false;
    emit logLine(coLine);
    return true;
}

// BSA learns only that the message was not handled; ride number 0 because the message may not even have had one.
void RideIntake::sendGeneralRefusal(BSAConnection *connection)
{
    if (StuurAntwoord(connection, Refused, 0))
        emit logLine(QStringLiteral("<NACK - RIT NIET GEVONDEN>"));
}

// Finds the row just written again by its temporary key and journals it. False on a database error.
bool RideIntake::journalByTempKey(const QString &key, int code, QString *error)
{
    const std::optional<QueryResult> found
        = m_database.exec(QStringLiteral("SELECT pla_id FROM planning WHERE pla_temp = ?"), { key }, error);
    if (!found)
        return false;
    if (!found->rows.isEmpty()) {
        const int id = found->rows.constFirst().at(0).toInt();
        m_journal.LogTransactie(0, id, 0, 0, code, QString());
    }
    return true;
}

bool RideIntake::tempKeyInUse(const QString &key)
{
    QString error;
    const std::optional<QueryResult> found
        = m_database.exec(QStringLiteral("SELECT 1 FROM planning WHERE pla_temp = ?"), { key }, &error);
    // When the lookup fails the insert that follows fails as well, and the ride gets "NC".
    return found && !found->rows.isEmpty();
}

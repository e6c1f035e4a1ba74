#include "Transactie.h"

#include "platform/Database.h"
#include "settings/Settings.h"

Transactie::Transactie(Database &database, const Settings &settings)
    : m_rows(database)
    , m_settings(settings)
{ }

bool Transactie::LogTransactie(
    int ritstaat, int rit, int wagen, int chauffeur, int code, const QString &opmerking, QString *error)
{
    const ColumnValues row {
        { QStringLiteral("tra_gebruiker"), m_settings.number<&Settings::Gebruiker>() },
        { QStringLiteral("tra_ritstaat"), ritstaat },
        { QStringLiteral("tra_rit"), rit },
        { QStringLiteral("tra_wagen"), wagen },
        { QStringLiteral("tra_chauffeur"), chauffeur },
        { QStringLiteral("tra_code"), code },
        // An empty remark is stored as an empty text, never as NULL: reports on the journal compare with ''.
        { QStringLiteral("tra_opmerking"), opmerking.isNull() ? QStringLiteral("") : opmerking },
    };
    return m_rows.insertRow(QStringLiteral("TRANSACTIES"), row, error);
}

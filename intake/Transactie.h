#pragma once

#include <QString>

#include "platform/RowStatements.h"

class Database;
struct Settings;

// The journal of the changes BSA makes to the planning: one TRANSACTIES row per call.
class Transactie final
{
public:
    // Journal codes of the rides BSA sends.
    static constexpr int NewRide = 91;
    static constexpr int ChangedRide = 92;
    static constexpr int CancelledRide = 93;

    Transactie(Database &database, const Settings &settings);

    // Writes one journal row, inside the transaction of the ride it journals: a ride whose journal row cannot be
    // written is not stored either. False, with the database's message in *error, when the row was not written.
    bool LogTransactie(
        int ritstaat, int rit, int wagen, int chauffeur, int code, const QString &opmerking, QString *error);

private:
    RowStatements m_rows;
    const Settings &m_settings;
};

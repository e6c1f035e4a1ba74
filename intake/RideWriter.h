#pragma once

#include <optional>

#include <QString>

#include "intake/TempKeyGenerator.h"
#include "intake/Transactie.h"
#include "platform/RowStatements.h"

class Database;
struct RideOutcome;
struct Settings;
struct tRitBSA;

// Stores one ride message in the planning table and its journal, inside the transaction that the ride's batch has
// open, and writes down in the ride's outcome what BSA is to hear and what the log is to show. Nothing is sent or
// logged here: that waits until the transaction committed.
class RideWriter
{
public:
    RideWriter(Database &database, const Settings &settings);

    // A ride, new or changed. False on a database error, with the database's message in *error; the outcome then
    // holds the lines up to the failure.
    bool VerwerkRit(const tRitBSA &rit, RideOutcome &outcome, QString *error);
    // A cancellation; the same on failure.
    bool VerwerkAnnulering(const tRitBSA &rit, RideOutcome &outcome, QString *error);

private:
    bool journalByTempKey(const QString &key, int code, QString *error);
    std::optional<bool> tempKeyInUse(const QString &key, QString *error);

    Database &m_database;
    RowStatements m_rows;
    const Settings &m_settings;
    Transactie m_journal;
    TempKeyGenerator m_tempKeys;
};

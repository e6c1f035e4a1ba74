#pragma once

#include <QObject>
#include <QString>

class Database;
struct Settings;

// The journal of the changes BSA makes to the planning: one TRANSACTIES row per call.
class Transactie final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Transactie)
public:
    // Journal codes of the rides BSA sends.
    static constexpr int NewRide = 91;
    static constexpr int ChangedRide = 92;
    static constexpr int CancelledRide = 93;

    Transactie(Database &database, const Settings &settings, QObject *parent = nullptr);

    // Writes one journal row. A failure is reported through exceptionRaised and goes no further: the planning
    // change stands without its journal row.
    void LogTransactie(int ritstaat, int rit, int wagen, int chauffeur, int code, const QString &opmerking);

signals:
    void exceptionRaised(const QString &message);

private:
    Database &m_database;
    const Settings &m_settings;
};

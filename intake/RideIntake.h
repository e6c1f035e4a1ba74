#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include "intake/TempKeyGenerator.h"
#include "intake/Transactie.h"

class BSAConnection;
class Database;
struct Settings;
struct tRitBSA;

// Handles each ride message BSA sends: stores the ride in the planning table, journals it and answers "AC" or
// "NC" on the connection that delivered it.
class RideIntake final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RideIntake)
public:
    RideIntake(Database &database, const Settings &settings, QObject *parent = nullptr);

    // One complete envelope: `payload` holds the hexadecimal digits between its tags.
    void BSAServerClientRead(BSAConnection *connection, const QByteArray &payload);

signals:
    void logLine(const QString &message);
    void rawLogLine(const QString &line); // logged without a time stamp
    void exceptionRaised(const QString &message);
    void pakketIn(const QStringList &fields); // the fields of the message just handled, for "Pakket IN"

private:
    // False when a database error ended the handling before an answer; *error then holds the database's message.
    bool VerwerkRit(const tRitBSA &rit, BSAConnection *connection, QString *error);
    bool VerwerkAnnulering(const tRitBSA &rit, BSAConnection *connection, QString *error);
    // Sends the answer. False when it could not be sent; the failure has then gone to exceptionRaised and the
    // lines that would follow the answer are left out.
    bool sendAnswer(BSAConnection *connection, const QString &soort, int ritnummer, QString *coLine);
    bool StuurAntwoord(BSAConnection *connection, const QString &soort, int ritnummer);
    void sendGeneralRefusal(BSAConnection *connection);
    bool journalByTempKey(const QString &key, int code, QString *error);
    bool tempKeyInUse(const QString &key);

    Database &m_database;
    const Settings &m_settings;
    Transactie m_journal;
    TempKeyGenerator m_tempKeys;
};

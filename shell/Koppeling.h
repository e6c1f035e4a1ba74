#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "intake/RideIntake.h"
#include "intake/ServerLifecycle.h"
#include "platform/BSAServer.h"
#include "platform/Database.h"
#include "shell/OperatorLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

class QDateTime;

// The owner of every component of the link, for the whole run: settings and their file, the operator log, the
// database connection, the BSA server with its intake, and the one-second tick. The window and the headless
// program are both built on it.
class Koppeling final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Koppeling)
public:
    explicit Koppeling(const QString &programFolder, QObject *parent = nullptr);
    ~Koppeling() override;

    // Start-up: reads the settings file, creates the working folders and restores the stored settings, then
    // starts the tick. False, with the reason, when the settings file cannot be read: the link must not run on
    // defaults while the operator's file is damaged, and the file is left as it was.
    bool start(QString *error);

    // The close sequence once the operator said yes (or the system asked the headless program to end): the log is
    // archived and the settings are captured. False when the archive could not be written; the log keeps its
    // lines and the error is in it.
    bool afsluitenGeaccepteerd(const QDateTime &now);
    // The end of the run: the server closes its connections, the database connection closes, and the settings
    // file is written (captured first when no capture happened since start-up). Safe to call twice.
    void finish();

    // The one-second tick: log housekeeping, then the automatic server start.
    void Timer1Timer();
    // The database TEST button: connects and closes again. A failure is added to the log, which keeps its
    // earlier lines; the window tells the operator about success.
    bool Button3Click(QString *error);

    QString programFolder() const { return m_programFolder; }
    Settings &settings() { return m_settings; }
    SettingsStore &settingsStore() { return m_store; }
    OperatorLog &log() { return m_log; }
    Database &database() { return m_database; }
    BSAServer &server() { return m_server; }
    ServerLifecycle &serverLifecycle() { return m_lifecycle; }
    RideIntake &intake() { return m_intake; }

signals:
    void pakketIn(const QStringList &fields);
    void stChanged(const QStringList &st);

private:
    QString m_programFolder;
    Settings m_settings;
    SettingsStore m_store;
    OperatorLog m_log;
    Database m_database;
    BSAServer m_server;
    ServerLifecycle m_lifecycle;
    RideIntake m_intake;
    QTimer m_timer1;
    bool m_started = false;
    bool m_finished = false;
};

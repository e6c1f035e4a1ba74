#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "feedback/HostReplies.h"
#include "feedback/HostSender.h"
#include "feedback/OutgoingQueue.h"
#include "feedback/RetourZender.h"
#include "feedback/StatusMessageBuilder.h"
#include "intake/RideIntake.h"
#include "intake/ServerLifecycle.h"
#include "platform/BSAClient.h"
#include "platform/BSAServer.h"
#include "platform/Database.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "shell/OperatorLog.h"

class LinkMetrics;
class QDateTime;
class QHostAddress;
class StatusServer;

// The owner of every component of the link, for the whole run: settings and their file, the operator log, the
// database connection, the BSA server with its intake, the status feedback to the BSA host with its outgoing
// queue, and the two timers. A front end (the window, or the
// headless program) talks to the link through the calls and signals below only, never to a component itself.
class Koppeling final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Koppeling)
public:
    explicit Koppeling(const QString &programFolder, QObject *parent = nullptr);
    ~Koppeling() override;

    // Start-up: reads the settings file, creates the working folders, restores the stored settings and the
    // outgoing queue that an earlier run left, then starts the two timers. False, with the reason, when the settings
    // file cannot be read: the link must not run on defaults while the operator's file is damaged, and the file is left
    // as it was.
    bool start(QString *error);

    // The close sequence once the operator said yes (or the system asked the headless program to end): the log is
    // archived and the settings are captured. False when the archive could not be written; the log keeps its
    // lines and the error is in it.
    bool closeConfirmed(const QDateTime &now);
    // The end of the run: the server closes its connections, the database connection closes, and the settings
    // file is written (captured first when no capture happened since start-up). False, with the reason, when the
    // file could not be written; the log is archived by then, so the front end reports it. Safe to call twice.
    bool finish(QString *error = nullptr);

    // The operator's values, as the window's fields show them.
    const Settings &settings() const { return m_settings; }
    // False while no planning database is set (xLoginServer empty, as in a new program folder without a settings
    // file): every ride is then refused with "NC" until one is set.
    bool hasPlanningDatabase() const;
    // The start of what the front ends say at start when there is none; each adds how it sets one.
    static QString noPlanningDatabaseNotice();
    // Takes the operator's edits. Every component reads a value when it uses it, so an edit counts from its next
    // use on: the login at the next connect, the server port at the next start.
    void setSettings(const Settings &settings);
    // Copies the current values into the settings document (hiding the window does this); the file itself is
    // written at the end of the run.
    void CaptureSettings();

    // The one local address the BSA server listens on from its next start; a null address: every IPv4 address.
    void setListenAddress(const QHostAddress &address);

    // The status port for the monitoring: /health and /metrics over HTTP on 127.0.0.1 (port 0: one the system
    // chooses). The figures are counted from here on; a link without a status port counts nothing. False, with the
    // reason, when the port cannot be opened.
    bool startStatusPort(quint16 port, QString *error);
    static inline const QString StatusPortMissing
        = QStringLiteral("--status-port is a feature of the Linux service: the Windows program has no status port");
    quint16 statusPort() const; // 0 without one

    // The operator's server button: starts the BSA server when it is stopped, stops it when it listens. False, with
    // the reason (which the log holds too), when a start fails.
    bool toggleServer(const QDateTime &now, QString *error = nullptr);
    bool isServerActive() const;
    // The connected BSA peers, as the tab "Verbindingen" lists them; stChanged tells every change.
    QStringList ST() const;

    // Tests the database login: connects and closes again. A failure is added to the log, which keeps its
    // earlier lines, and goes through the exception hook; an abandoned connect (no SQL server set) never reaches
    // the hook, so its "Operation aborted" shows once. The front end tells the operator about success.
    bool testDatabaseLogin(QString *error);
    // "SLUITEN" closes the database connection before the close question; it opens again at its next use.
    void closeDatabase();
    bool isDatabaseOpen() const;

    // The operator log as it stands; logLineAdded and logCleared tell every change.
    QStringList logLines() const;
    // Adds a stamped line to the operator log, for what the front end runs beside the link (the update check, the
    // headless program's start).
    void Logger(const QString &message);
    // The operator typed in the log view: the log holds these lines from now on, and they are what gets archived.
    // The view is not told again: it shows them already.
    void editLog(const QStringList &lines);

    QString programFolder() const { return m_programFolder; }

    // The one-second tick: log housekeeping, then the automatic server start, then at most one queued line to the
    // BSA host. An archive that cannot be written ends the tick there.
    void Timer1Timer();
    // The 15-second tick: one planning row that waits for its status message gets it, when feedback is on.
    void RetourZenderTimer();

    // Queues an acknowledgement of ride 12345 for the BSA host; the tick sends it like any other line.
    void queueTestAcknowledgement();
    // Queues the status message of the planning row with this pla_id (not a BSA ride number), whatever its
    // pla_retour_rbs, which stays as it is. Does nothing with feedback off.
    void queueRideStatus(int planningRowId);
    // The outgoing queue as the tab "Pakket UIT" shows it, one hexadecimal line per message; pakketUitChanged tells
    // every change.
    QStringList pakketUitLines() const;

    // For tests only: shorter intervals for the two timers. The program always runs at 15000 and 1000 ms.
    void setTimerIntervalsForTest(std::chrono::milliseconds retourZender, std::chrono::milliseconds timer1);
    // For tests only: how long a status message waits for the BSA host's answer, and the pauses before it goes
    // again. The program always waits 30 s and pauses from 30 s to 15 min.
    void setHostTimesForTest(std::chrono::milliseconds replyTimeout, std::chrono::milliseconds firstPause,
        std::chrono::milliseconds longestPause);

signals:
    void logLineAdded(const QString &line);
    void logCleared(); // the log was archived, or replaced
    // The fields of the last message received, for "Pakket IN": made only once something is connected to it.
    void pakketIn(const QStringList &fields);
    void stChanged(const QStringList &st);
    void pakketUitChanged(const QStringList &lines); // the whole outgoing queue, after every change

protected:
    void connectNotify(const QMetaMethod &signal) override;

private:
    QString m_programFolder;
    Settings m_settings;
    SettingsStore m_store;
    OperatorLog m_log;
    Database m_database;
    BSAServer m_server;
    ServerLifecycle m_lifecycle;
    RideIntake m_intake;
    BSAClient m_client;
    OutgoingQueue m_queue;
    StatusMessageBuilder m_statusBuilder;
    RetourZender m_retourZender;
    HostSender m_hostSender;
    HostReplies m_hostReplies;
    QTimer m_timer1;
    std::unique_ptr<LinkMetrics> m_metrics;
    std::unique_ptr<StatusServer> m_statusServer;
    QMetaObject::Connection m_pakketIn; // the intake's display lists, once someone shows them
    bool m_started = false;
    bool m_finished = false;
};

#pragma once

#include <chrono>

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QTimer>

class Database;
class OutgoingQueue;
class StatusMessageBuilder;
struct Settings;

// Every 15 seconds, takes one planning row that waits for its status message (pla_retour_rbs 1, a ride that came
// from BSA), has its message built and queued, and marks the row: 2 when that went well, 0 when it failed.
//
// The mark only changes a row that still waits: when another link on the same database marked it first, that link
// sends the message and this one takes its copy back. A message that is already queued, or went out during this
// run (an earlier run queued it and ended before it could mark the row), is not queued a second time.
class RetourZender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RetourZender)
public:
    static constexpr std::chrono::milliseconds Interval { 15000 };

    RetourZender(Database &database, const Settings &settings, StatusMessageBuilder &builder, OutgoingQueue &queue,
        QObject *parent = nullptr);

    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    // For tests only: the program always runs at Interval.
    void setIntervalForTest(std::chrono::milliseconds interval) { m_timer.setInterval(interval); }

    // One tick. With feedback off it does nothing and the timer runs on.
    void RetourZenderTimer();

    // A line left the outgoing queue for the BSA host.
    void lineSent(const QString &line);

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);

private:
    void handleFirstWaitingRow();
    bool alreadyOnItsWay(const QString &line) const;
    // Sets a waiting row to `mark`; false when it no longer waited, or (with the reason) when it could not be set.
    bool markWaitingRow(int plaId, int mark, bool *changed, QString *error);

    Database &m_database;
    const Settings &m_settings;
    StatusMessageBuilder &m_builder;
    OutgoingQueue &m_queue;
    QTimer m_timer;
    QSet<QByteArray> m_sentSinceStart; // hashes of the lines that left the queue during this run
};

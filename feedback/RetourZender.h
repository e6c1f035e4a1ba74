#pragma once

#include <chrono>

#include <QObject>
#include <QTimer>

class Database;
class OutgoingQueue;
class StatusMessageBuilder;
struct Settings;

// Every 15 seconds, takes one planning row that waits for its status message (pla_retour_rbs 1, a ride that came
// from BSA), has its message built and queued, and marks the row: 2 when that went well, 0 when it failed.
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

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);

private:
    void handleFirstWaitingRow();

    Database &m_database;
    const Settings &m_settings;
    StatusMessageBuilder &m_builder;
    OutgoingQueue &m_queue;
    QTimer m_timer;
};

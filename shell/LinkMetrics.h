#pragma once

#include <array>
#include <chrono>

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

// The link's figures for the monitoring: rides answered by kind and answer, how long the answers took, status
// messages queued and sent, database failures, counted as the components report them. What can be read at any
// moment (is the server listening, how many connections are open) the owner hands in when the figures are asked for.
class LinkMetrics final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkMetrics)
public:
    // Upper bounds of the answer latency histogram, in seconds.
    static constexpr std::array<double, 14> LatencyBuckets { 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
        0.5, 1.0, 2.5, 5.0, 10.0 };

    // The state of the link at the moment of asking.
    struct Now
    {
        bool listening = false;
        bool databaseConfigured = true; // a database server is set (xLoginServer)
        qsizetype connections = 0; // open BSA connections
        qsizetype statusWaiting = 0; // status messages waiting in the outgoing queue
        // Since when the first of them has gone unanswered by the BSA host, and its ride; null while it answers.
        QDateTime unansweredSince;
        int unansweredRide = 0;
    };

    explicit LinkMetrics(QObject *parent = nullptr);

    // Fed by the intake: an answer was handed to the connection.
    void rideAnswered(const QString &soort, bool accepted, std::chrono::nanoseconds latency);
    void connectionAccepted();
    // Fed by the outgoing queue and the sender to the BSA host.
    void statusQueued();
    void statusTakenBack();
    void statusSent();
    void statusReplyMissed();
    void strayHostReply();
    // Fed by the database connection.
    void databaseFailed(const QString &reason, bool busy);
    void databaseRecovered();

    // Why the link is not healthy, one reason a line; empty when it is: the server listens, a database is set,
    // the last database statement succeeded, and the BSA host answers the status messages.
    QStringList unhealthyReasons(const Now &now) const;
    // Every figure in the Prometheus text format (version 0.0.4).
    QByteArray text(const Now &now) const;

private:
    enum Kind { BN, BV, OtherKind, KindCount };

    std::array<std::array<quint64, 2>, KindCount> m_answered {}; // [kind][accepted]
    std::array<quint64, LatencyBuckets.size() + 1> m_latencyCounts {}; // per bucket, the last one above them all
    std::chrono::nanoseconds m_latencySum {};
    qint64 m_lastRideMs = 0; // the time of day of the last answer; 0 before the first
    quint64 m_connectionsAccepted = 0;
    quint64 m_statusQueued = 0;
    quint64 m_statusSent = 0;
    quint64 m_statusRepliesMissed = 0;
    quint64 m_strayHostReplies = 0;
    quint64 m_databaseErrors = 0;
    quint64 m_databaseBusy = 0;
    bool m_databaseFailing = false;
    QString m_databaseFailure;
    QElapsedTimer m_uptime;
};

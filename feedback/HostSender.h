#pragma once

#include <chrono>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class BSAClient;
class OutgoingQueue;
struct Settings;
struct tAckNackBSA;

// Sends the outgoing queue to the BSA host, at most one line per call of the one-second tick, over the client
// connection, which it opens from the settings as they are at that moment.
//
// A status message (kind "BT") stays first in the queue until the host answers it with an "AC" or "NC" for its ride
// number; only then does the next line go. Without an answer in time the connection is closed and the message goes
// again over a new one, after a pause that grows with every attempt that stays unanswered: the host may then see a
// message twice, but never misses one. Other lines (a test acknowledgement, an "AC"/"NC" record) get no answer and
// leave the queue once the system has taken all of them.
class HostSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HostSender)
public:
    static constexpr std::chrono::milliseconds ReplyTimeout { 30000 };
    // The pause before the first new attempt; it doubles with every further one, up to LongestPause.
    static constexpr std::chrono::milliseconds FirstPause { 30000 };
    static constexpr std::chrono::milliseconds LongestPause { 15 * 60 * 1000 };

    HostSender(BSAClient &client, OutgoingQueue &queue, const Settings &settings, QObject *parent = nullptr);

    // For tests only: the program always waits ReplyTimeout and pauses from FirstPause to LongestPause.
    void setTimesForTest(std::chrono::milliseconds replyTimeout, std::chrono::milliseconds firstPause,
        std::chrono::milliseconds longest);

    // The sending part of the tick. With nothing queued the connection is left alone. Without a connection this
    // tick only starts connecting; with one it sends the first line, enveloped, without CR LF, unless a line is
    // still on its way or waits for its answer, or the pause after an unanswered attempt has not ended.
    void sendNext();

    // A reply of the host: true when it answers the status message that waits ("AC" or "NC" with its ride
    // number), which then leaves the queue. Any other reply changes nothing and gives false.
    bool answers(const tAckNackBSA &reply) const;
    bool takeReply(const tAckNackBSA &reply);

    // Ends a connection on which the host misbehaves: the first line goes again over a new one, after a pause as
    // if it had gone unanswered, so that such a host is not given a new connection every second.
    void closeMisbehavingConnection();

    // Since when the first line has waited for an answer that did not come in time; null while the host answers.
    QDateTime unansweredSince() const { return m_unansweredSince; }
    // The ride number of the status message that waits for its answer, or of the one that went unanswered last.
    int waitingRide() const { return m_waitingRide; }

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);
    // The first line left the queue: a status message once the host answered it, another line once the system
    // took all of it.
    void lineSent(const QString &line);
    // A status message went unanswered: its connection is closed and it goes again later.
    void replyMissed();

private:
    void connectToHost(const QString &host);
    void allWritten();
    void disconnected();
    void replyTimedOut();
    void lineLeft();
    void attemptFailed();
    void hostAnswersAgain();

    BSAClient &m_client;
    OutgoingQueue &m_queue;
    const Settings &m_settings;
    // The first line was sent, but the host has not taken all of it: nothing more goes out until it has, so that a
    // host that stops reading cannot make the link pile up its messages in memory.
    bool m_inFlight = false;
    bool m_waitReported = false;
    // The first line is a status message that was sent and waits for its answer.
    bool m_awaitingReply = false;
    int m_waitingRide = 0;
    QTimer m_replyTimer;
    std::chrono::milliseconds m_firstPause = FirstPause;
    std::chrono::milliseconds m_longestPause = LongestPause;
    std::chrono::milliseconds m_nextPause = FirstPause;
    QDeadlineTimer m_pauseEnds { QDeadlineTimer::Forever }; // Forever: no pause
    bool m_pausing = false;
    bool m_closingOurselves = false;
    // What was said already, so that a host that stays away or drops every connection gives one line per change.
    bool m_noAnswerReported = false;
    bool m_dropReported = false;
    QDateTime m_unansweredSince;
};

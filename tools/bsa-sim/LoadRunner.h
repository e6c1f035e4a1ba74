#pragma once

#include <chrono>

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include "LoadReport.h"

class LoadConnection;

// Plays a busy BSA for `bsa-sim load`: sends new rides over several connections at once, each connection
// sending its next message when the answer to the previous one came, and measures the answers.
class LoadRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoadRunner)
public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 12001;
        int rides = 100;
        int connections = 1;
        bool fragment = false; // write each message in random pieces with gaps of 0 to 2 ms
        qint32 firstRide = 1; // rides are numbered firstRide, firstRide + 1, ...
        double cancelRatio = 0; // this share of the accepted rides is cancelled again ("BV")
        std::chrono::milliseconds timeout { 120000 }; // for the whole run
    };

    explicit LoadRunner(const Options &options, QObject *parent = nullptr);

    void start();
    const LoadReport &report() const { return m_report; }

signals:
    void problem(const QString &message);
    void finished();

private:
    struct Lane
    {
        qint32 ride = 0;
        bool awaiting = false; // a message is out and its answer not yet in
        bool cancelling = false; // the message out is a "BV"
        bool cancelNext = false; // the ride just accepted is to be cancelled next
        qint64 writtenNs = -1; // when the message out was fully written
        bool alive = true;
    };

    void sendNext(LoadConnection *connection);
    void answer(LoadConnection *connection, const QByteArray &payload);
    void lose(LoadConnection *connection, const QString &reason);
    bool isCancelled(int rideIndex) const;
    void finishIfDone();
    void finish();

    Options m_options;
    LoadReport m_report;
    QHash<LoadConnection *, Lane> m_lanes;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    QDateTime m_now;
    int m_nextRide = 0; // index of the next ride to send
    int m_answered = 0; // messages that got an answer of any kind
    qint64 m_firstSendNs = -1;
    qint64 m_lastAnswerNs = -1;
    bool m_finished = false;
};

#pragma once

#include <deque>

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>

#include "platform/BSAConnection.h"

// The envelopes that came in and wait for the database, one line per connection. A batch takes the connections in
// turn, a bounded number from each, so that one connection sending thousands of rides back to back cannot keep a
// ride on another connection waiting; each connection's envelopes keep the order in which they came.
class IntakeQueue
{
public:
    struct Envelope
    {
        QPointer<BSAConnection> connection; // null once the connection is gone
        QString peer;
        QByteArray payload;
        qint64 arrivedNs = 0; // on the intake's own clock, in nanoseconds
    };

    // What one connection has waiting.
    struct Waiting
    {
        qsizetype envelopes = 0;
        qsizetype bytes = 0; // of their payloads
    };

    // Returns what the connection has waiting now.
    Waiting append(BSAConnection *connection, const QByteArray &payload, qint64 arrivedNs);

    // At most `maxTotal` envelopes, at most `perConnection` of one connection: one from each connection in turn,
    // round after round. The next batch starts with the connection that came next.
    QList<Envelope> take(int maxTotal, int perConnection);

    bool isEmpty() const { return m_lines.empty(); }
    qsizetype size() const;
    qsizetype bytes() const { return m_bytes; } // of all payloads waiting
    Waiting waitingOf(const BSAConnection *connection) const;
    void clear()
    {
        m_lines.clear();
        m_bytes = 0;
    }

private:
    struct Line
    {
        QPointer<BSAConnection> connection;
        std::deque<Envelope> envelopes;
        qsizetype bytes = 0;
    };
    std::deque<Line> m_lines; // connections with envelopes waiting, in the order they are served
    qsizetype m_bytes = 0;
};

#include "IntakeQueue.h"

#include <utility>
#include <vector>

IntakeQueue::Waiting IntakeQueue::append(BSAConnection *connection, const QByteArray &payload, qint64 arrivedNs)
{
    Envelope envelope { connection, connection ? connection->peerAddress() : QString(), payload, arrivedNs };
    m_bytes += payload.size();
    for (Line &line : m_lines) {
        // A connection that went away leaves a line whose pointer is null: it never matches a new connection that
        // happens to live at the same address.
        if (line.connection && line.connection == connection) {
            line.bytes += payload.size();
            line.envelopes.push_back(std::move(envelope));
            return { qsizetype(line.envelopes.size()), line.bytes };
        }
    }
    m_lines.push_back({ connection, {}, payload.size() });
    m_lines.back().envelopes.push_back(std::move(envelope));
    return { 1, payload.size() };
}

IntakeQueue::Waiting IntakeQueue::waitingOf(const BSAConnection *connection) const
{
    for (const Line &line : m_lines) {
        if (line.connection && line.connection == connection)
            return { qsizetype(line.envelopes.size()), line.bytes };
    }
    return {};
}

QList<IntakeQueue::Envelope> IntakeQueue::take(int maxTotal, int perConnection)
{
    QList<Envelope> batch;
    const qsizetype lines = qsizetype(m_lines.size());
    std::vector<int> taken(size_t(lines), 0);
    bool tookOne = true;
    while (batch.size() < maxTotal && tookOne) {
        tookOne = false;
        for (qsizetype i = 0; i < lines && batch.size() < maxTotal; ++i) {
            Line &line = m_lines[size_t(i)];
            if (line.envelopes.empty() || taken[size_t(i)] >= perConnection)
                continue;
            line.bytes -= line.envelopes.front().payload.size();
            m_bytes -= line.envelopes.front().payload.size();
            batch << std::move(line.envelopes.front());
            line.envelopes.pop_front();
            ++taken[size_t(i)];
            tookOne = true;
        }
    }
    // The connections served go to the back, in the order they were served; those not reached keep their turn.
    std::deque<Line> waiting;
    std::deque<Line> served;
    for (qsizetype i = 0; i < lines; ++i) {
        Line &line = m_lines[size_t(i)];
        if (taken[size_t(i)] == 0)
            waiting.push_back(std::move(line));
        else if (!line.envelopes.empty())
            served.push_back(std::move(line));
    }
    for (Line &line : served)
        waiting.push_back(std::move(line));
    m_lines = std::move(waiting);
    return batch;
}

qsizetype IntakeQueue::size() const
{
    qsizetype count = 0;
    for (const Line &line : m_lines)
        count += qsizetype(line.envelopes.size());
    return count;
}

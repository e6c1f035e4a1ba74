#pragma once

#include <QObject>
#include <QString>

class BSAClient;
class OutgoingQueue;
struct Settings;

// Sends the outgoing queue to the BSA host, at most one line per call of the one-second tick, over the client
// connection, which it opens from the settings as they are at that moment. A line leaves the queue once it was
// handed to the system; until then it stays first and a lost connection sends it again.
class HostSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HostSender)
public:
    HostSender(BSAClient &client, OutgoingQueue &queue, const Settings &settings, QObject *parent = nullptr);

    // The sending part of the tick. With nothing queued the connection is left alone. Without a connection this
    // tick only starts connecting; with one it sends the first line, enveloped, without CR LF.
    void sendNext();

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);
    // The first line of the queue was handed to the system whole and left the queue.
    void lineSent();

private:
    void connectToHost(const QString &host);
    void allWritten();
    void disconnected();

    BSAClient &m_client;
    OutgoingQueue &m_queue;
    const Settings &m_settings;
    // The first line was sent, but the host has not taken all of it: nothing more goes out until it has, so that a
    // host that stops reading cannot make the link pile up its messages in memory.
    bool m_inFlight = false;
    bool m_waitReported = false;
};

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class BSAClient;
class HostSender;

// Reports the replies of the BSA host in the operator log and hands each to the sender, for which the answer to
// the status message that waits ends the wait. A refusal ("NC") is logged like an acceptance and nothing is sent
// again because of it.
//
// A reply that answers nothing that waits is logged once per connection and counted; a host that sends many of
// them on one connection has it closed, and gets a new one only after a pause, so that a flooding host can fill
// neither the log nor the link's time.
class HostReplies final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HostReplies)
public:
    // Replies without a message that waits for them that one connection may bring before it is closed.
    static constexpr int UnansweringRepliesPerConnection = 100;

    // Takes the replies that `client` receives.
    HostReplies(BSAClient &client, HostSender &sender, QObject *parent = nullptr);

    // One complete envelope from the host: `payload` holds the hexadecimal digits between its tags. Logs the
    // envelope ("CI: "), then the reply's kind, value and ride number; a reply of fewer than four fields goes to
    // exceptionRaised after the first line.
    void BSAClientRead(const QByteArray &payload);

signals:
    void logLine(const QString &message);
    void exceptionRaised(const QString &message);
    // A reply answered no message that waits.
    void strayReply();

private:
    void connectionStarted() { m_strayReplies = 0; }

    HostSender &m_sender;
    int m_strayReplies = 0; // on the current connection
};

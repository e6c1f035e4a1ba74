#pragma once

#include <chrono>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// Plays BSA for `bsa-sim send`: sends ride messages one at a time on one connection and checks that each gets
// its "AC" before the next goes out.
class RideSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RideSender)
public:
    struct Message
    {
        QString text;
        qint32 rideNumber = 0; // the number the answer must carry
    };

    explicit RideSender(QObject *parent = nullptr);

    // The link's "CR+LF meezenden ACK/NACK" setting: whether every answer must end in CR LF after "<EINDE>".
    void setCrlfExpected(bool expected) { m_crlfExpected = expected; }
    // How long to wait for the connection (a refused one is tried again meanwhile) and for each answer.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    void start(const QString &host, quint16 port, const QList<Message> &messages);

signals:
    void answerReceived(const QString &answer); // "AC BSA 6 12345"
    void problem(const QString &message);
    // ok: every message got "AC" with its own ride number, and nothing else went wrong.
    void finished(bool ok);

private:
    void sendNext();
    void readAvailable();
    bool takeAnswer();
    void fail(const QString &message);
    void finish();

    QTcpSocket *m_socket = nullptr;
    QString m_peer; // "host:port" as given, for the messages
    QString m_host;
    quint16 m_port = 0;
    bool m_connected = false;
    QString m_lastRefusal; // why the last try to connect failed, while it is tried again
    QTimer m_deadline;
    QTimer m_retry;
    std::chrono::milliseconds m_timeout { 10000 };
    bool m_crlfExpected = false;
    QList<Message> m_messages;
    qsizetype m_next = 0; // index of the message whose answer is awaited
    QByteArray m_received; // bytes of the answer being read
    bool m_ok = true;
    bool m_done = false;
};

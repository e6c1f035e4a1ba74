#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include "codec/EnvelopeFramer.h"

class QTcpSocket;

// Plays the BSA host for `bsa-sim host`: takes the link's status messages and answers each with "AC" (or "NC",
// or nothing) for the ride number in its field 4.
class HostSimulator final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HostSimulator)
public:
    enum class Answer {
        Accept, // "AC"
        Refuse, // "NC"
        None,
    };

    explicit HostSimulator(QObject *parent = nullptr);

    void setAnswer(Answer answer) { m_answer = answer; }
    // A hostile host: sends "AC" envelopes for ride 0 without pause on every connection, as fast as the link takes
    // them, besides whatever it answers.
    void setFlood(bool flood) { m_flood = flood; }
    // After this many messages (0: no limit) the host answers the last one and reports finished.
    void setCount(int count) { m_count = count; }
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }

    // The name of field k (1 to 30) of a status message, or "" where the record has none.
    static QString statusFieldName(int number);

signals:
    void logLine(const QString &line);
    void messageReceived(const QStringList &fields);
    // Every byte as it arrived, on any connection: what the link really sent, tags, line ends and all.
    void bytesReceived(const QByteArray &bytes);
    // The count was reached and every answer has left.
    void finished();

private:
    void accept();
    void readAvailable(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const QByteArray &payload);
    void finishWhenWritten();
    void floodMore(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QTcpSocket *, EnvelopeFramer> m_framers; // one per connection: bytes of two connections never mix
    Answer m_answer = Answer::Accept;
    int m_count = 0;
    int m_handled = 0;
    bool m_countReached = false;
    bool m_finished = false;
    bool m_flood = false;
};

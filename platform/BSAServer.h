#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class BSAConnection;

// The listening endpoint on which BSA delivers its ride messages; keeps the list of accepted connections.
class BSAServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BSAServer)
public:
    explicit BSAServer(QObject *parent = nullptr);
    ~BSAServer() override;

    // Used at the next start; 0 asks the system for a free port (see serverPort()).
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    // Used at the next start: the one local address to listen on; a null address listens on every IPv4 address.
    void setAddress(const QHostAddress &address) { m_address = address; }
    QHostAddress address() const { return m_address; }

    // On: listen on the address (every local IPv4 address unless one was set); a failure leaves the server stopped,
    // with the message in *error. Off: close and discard every connection without clientDisconnected, then stop
    // listening.
    bool setActive(bool on, QString *error = nullptr);
    bool isActive() const { return m_listener.isListening(); }
    quint16 serverPort() const { return m_listener.serverPort(); }

    static QString localHostName();

    QList<BSAConnection *> connections() const { return m_connections; }

signals:
    void clientConnected(BSAConnection *connection);
    // The peer closed the connection; the connection is discarded after this signal.
    void clientDisconnected(BSAConnection *connection);
    void envelopeReceived(BSAConnection *from, const QByteArray &payload);
    void bufferDropped(const QString &peer);
    // Socket failures, in the operator log's form: a connection that failed (it is discarded without
    // clientDisconnected), or an accept that failed (accepting resumes shortly after).
    void errorOccurred(const QString &message);

private:
    void acceptPending();
    void acceptFailed(QAbstractSocket::SocketError error);
    void connectionClosed(BSAConnection *connection);
    void connectionFailed(BSAConnection *connection, const QString &message);
    void discard(BSAConnection *connection);
    void closeConnections();

    QTcpServer m_listener;
    QTimer m_resumeAccepting;
    QList<BSAConnection *> m_connections; // owned as children; deleted with deleteLater, never in their own signal
    quint16 m_port = 0;
    QHostAddress m_address;
};

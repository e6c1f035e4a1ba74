#pragma once

#include <QObject>
#include <QString>
#include <QTcpSocket>

#include "codec/EnvelopeFramer.h"

// The connection to the BSA host, over which status messages go out and the host's replies come back.
class BSAClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BSAClient)
public:
    explicit BSAClient(QObject *parent = nullptr);
    ~BSAClient() override;

    // A host name or a dotted address; both are used at the next activate().
    void setHost(const QString &host) { m_host = host; }
    QString host() const { return m_host; }
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }

    // Starts connecting and returns at once. While an attempt is under way it is dropped and started again with
    // the current host and port; while connected nothing changes.
    void activate();
    // True only once connected: false while connecting and after a disconnect.
    bool isActive() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    // Queues the whole buffer for sending; the bytes taken, or -1 (with a message) when not connected.
    qint64 send(const QByteArray &bytes, QString *error = nullptr);

signals:
    void connected();
    void disconnected();
    void envelopeReceived(const QByteArray &payload);
    void bufferDropped(const QString &peer);
    // Socket failures in the operator log's form, e.g. a refused connect.
    void errorOccurred(const QString &message);

private:
    void readAvailable();
    void socketError(QAbstractSocket::SocketError error);
    void socketDisconnected();

    QTcpSocket m_socket;
    EnvelopeFramer m_framer; // the bytes of the current connection only
    QString m_host;
    quint16 m_port = 0;
};

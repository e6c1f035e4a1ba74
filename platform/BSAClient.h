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

    // Starts connecting and returns at once. An attempt under way to the same host and port is left to finish (the
    // socket layer ends it within half a minute); one to another host or port is closed and replaced. While
    // connected nothing changes.
    void activate();
    // True only once connected: false while connecting and after a disconnect.
    bool isActive() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    // Hands the whole buffer to the connection and passes as much as the system takes on at once, without
    // waiting; the bytes taken, or -1 (with a message) when not connected.
    qint64 send(const QByteArray &bytes, QString *error = nullptr);
    // Bytes sent that the system has not taken yet: a host that stops reading lets them pile up here.
    qint64 bytesToWrite() const { return m_socket.bytesToWrite(); }
    // Ends the connection (or the attempt) at once; disconnected() comes before this returns when there was one.
    void close();

    // What one turn of the event loop takes from the host at most: a host that floods the connection must leave
    // the other connections and the timers their turn. The rest waits in the system and holds the host back.
    static constexpr qint64 ReadBytesPerTurn = 64 * 1024;
    static constexpr int EnvelopesPerTurn = 64;

signals:
    void connected();
    void disconnected();
    // Every byte sent so far has been handed to the system.
    void allWritten();
    void envelopeReceived(const QByteArray &payload);
    void bufferDropped(const QString &peer);
    // The host's name could not be resolved, in the form of a failing call:
    // "Windows socket error: <text> (11001), on API 'gethostbyname'".
    void lookupFailed(const QString &message);
    // Other socket failures in the operator log's form, e.g. a refused connect.
    void errorOccurred(const QString &message);

private:
    void readAvailable();
    void readLater();
    void socketError(QAbstractSocket::SocketError error);
    void socketDisconnected();

    QTcpSocket m_socket;
    EnvelopeFramer m_framer; // the bytes of the current connection only
    QString m_host;
    quint16 m_port = 0;
    // Where the attempt under way (or the connection) goes.
    QString m_attemptHost;
    quint16 m_attemptPort = 0;
    bool m_readQueued = false;
};

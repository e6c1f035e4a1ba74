#pragma once

#include <chrono>

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "codec/EnvelopeFramer.h"

class QTcpSocket;

// One accepted BSA connection: owns its socket and frames that socket's bytes into envelopes.
class BSAConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BSAConnection)
public:
    // Takes ownership of the connected socket.
    BSAConnection(QTcpSocket *socket, QObject *parent);

    // Dotted IPv4 address of the peer, kept from the accept so that it outlives the socket.
    QString peerAddress() const { return m_peerAddress; }

    // Queues the whole buffer for sending; the bytes taken, or -1 (with a message) when the connection is gone.
    qint64 send(const QByteArray &bytes, QString *error = nullptr);

    // Closes without emitting closed() or failed(); bytes already queued are handed to the system first.
    void close();

    // Whether a whole envelope came on this connection yet, or bytes that may hold one wait unread: a connection
    // without either is idle, and too many idle ones from one address are closed (BSAServer).
    bool awaitsFirstEnvelope() const { return !m_sentEnvelope && !m_readWaits; }
    // Whether not one byte came yet.
    bool hasReceivedNothing() const { return !m_receivedBytes; }
    // Since the accept.
    std::chrono::milliseconds openFor() const { return std::chrono::milliseconds(m_opened.elapsed()); }

    // How long an envelope may take from its start tag to its end tag before it is given up (envelopeExpired).
    void setEnvelopeTimeout(std::chrono::milliseconds timeout) { m_unfinished.setInterval(timeout); }

    // While held, nothing more is read from the peer: its bytes wait in the system's buffers and TCP slows the peer
    // down, so that a peer sending faster than the database stores cannot fill the link's memory. Reading also
    // waits by itself while more than MaxUnsentBytes of answers wait for a peer that does not read them.
    void holdReading(bool hold);
    bool isReadingHeld() const { return m_held; }
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    // What the socket keeps of the peer's bytes before the system's buffers take over.
    static constexpr qint64 ReadBufferBytes = 256 * 1024;

signals:
    void envelopeReceived(BSAConnection *from, const QByteArray &payload);
    void bufferDropped(const QString &peer);
    // An envelope began and did not end in time; what came of it is dropped. The connection stays open.
    void envelopeExpired(BSAConnection *connection);
    void closed(BSAConnection *connection);
    void failed(BSAConnection *connection, const QString &message);

private:
    void readAvailable();
    bool mayRead() const;
    void readLater();
    void answersWritten();
    void recordError(QAbstractSocket::SocketError error);
    void socketDisconnected();
    void unfinishedTooLong();

    QTcpSocket *m_socket = nullptr;
    EnvelopeFramer m_framer; // this connection's bytes only, never shared
    QTimer m_unfinished; // runs while an envelope is open
    QString m_peerAddress;
    QString m_failure; // set when the connection ends through a network error
    QElapsedTimer m_opened;
    bool m_sentEnvelope = false;
    bool m_receivedBytes = false;
    bool m_closing = false;
    bool m_held = false;
    bool m_readWaits = false; // bytes came while reading waited: read them when it may go on
};

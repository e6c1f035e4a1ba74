#pragma once

#include <chrono>
#include <functional>

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class BSAConnection;
class QSocketNotifier;

// The listening endpoint on which BSA delivers its ride messages; keeps the list of accepted connections.
//
// Every connection holds one of the process's limited file descriptors. The server takes no more connections than
// the limit leaves room for beside the database, the log archive and the settings file; beyond that, and whenever
// the system has no descriptor left, new connections wait in the system's queue until one is free again.
//
// Idle connections cannot keep BSA out: a connection counts as idle until its first whole envelope. At most
// MaxIdlePerAddress of them stay open per peer address (the idle longest are closed first), and when every place is
// taken, the connection that has been open longest without sending a byte is closed to make room for the one
// waiting. Both spare a connection younger than the idle grace, so that a burst of connects whose first bytes are
// still on their way loses nothing; a connection that has sent an envelope is never closed for being idle.
class BSAServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BSAServer)
public:
    // Connections the system queues for us while we are not accepting (the system may allow fewer).
    static constexpr int ListenBacklog = 4096;
    // Descriptors kept free for everything else: an eighth of the limit, at least 8 and at most 64.
    static constexpr qint64 MinReserve = 8;
    static constexpr qint64 MaxReserve = 64;
    // BSA sends a whole message at once; an envelope that takes longer than this is given up.
    static constexpr std::chrono::milliseconds DefaultEnvelopeTimeout = std::chrono::minutes(1);
    // Idle connections (no whole envelope yet) kept open per peer address.
    static constexpr int MaxIdlePerAddress = 32;
    // How long a new connection may stay silent before it counts against the limits above.
    static constexpr std::chrono::milliseconds DefaultIdleGrace = std::chrono::seconds(5);

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

    // The most connections held at once, fixed at each start from the limit on open files; -1 for no bound.
    qint64 maxConnections() const { return m_maxConnections; }
    // For connections accepted from now on.
    void setEnvelopeTimeout(std::chrono::milliseconds timeout) { m_envelopeTimeout = timeout; }
    void setIdleGrace(std::chrono::milliseconds grace) { m_idleGrace = grace; }
    // Asked at every accept with the peer's address: false closes the connection at once, before it takes a place,
    // is announced or is read. No filter lets everyone in.
    void setPeerFilter(std::function<bool(const QHostAddress &peer)> filter) { m_peerFilter = std::move(filter); }

    static QString localHostName();

    QList<BSAConnection *> connections() const { return m_connections; }

signals:
    void clientConnected(BSAConnection *connection);
    // The peer closed the connection, or the server closed it for an envelope that did not end in time; the
    // connection is discarded after this signal.
    void clientDisconnected(BSAConnection *connection);
    void envelopeReceived(BSAConnection *from, const QByteArray &payload);
    void bufferDropped(const QString &peer);
    // Socket failures, in the operator log's form: a connection that failed (it is discarded without
    // clientDisconnected), or an accept that failed.
    void errorOccurred(const QString &message);
    // What the operator should know about accepting: it waits for free descriptors, it goes on again, an envelope
    // was given up, idle connections were closed.
    void logLine(const QString &message);

private:
    enum class Waiting { No, ForConnectionsToClose, AfterError };

    void acceptPending();
    bool acceptOne();
    void adopt(qintptr descriptor, BSAConnection *makeRoom);
    BSAConnection *longestSilent() const;
    void closeIdle();
    void closeForIdleness(BSAConnection *connection);
    void waitBeforeAccepting(Waiting reason, const QString &error);
    void acceptAgain();
    void connectionClosed(BSAConnection *connection);
    void connectionFailed(BSAConnection *connection, const QString &message);
    void connectionExpired(BSAConnection *connection);
    void discard(BSAConnection *connection);
    void closeConnections();
    void stopAccepting();

    QTcpServer m_listener; // listens only: the accepting is ours (acceptPending)
    QSocketNotifier *m_acceptNotifier = nullptr; // owned as a child; exists while listening
    QTimer m_retryAccept; // after the system ran out of descriptors
    QTimer m_idleCheck; // runs while listening
    std::function<bool(const QHostAddress &)> m_peerFilter;
    std::chrono::milliseconds m_idleGrace = DefaultIdleGrace;
    Waiting m_waiting = Waiting::No;
    bool m_toldWaiting = false; // the operator heard that connections wait, and not yet that they were taken
    QList<BSAConnection *> m_connections; // owned as children; deleted with deleteLater, never in their own signal
    qint64 m_maxConnections = -1;
    std::chrono::milliseconds m_envelopeTimeout = DefaultEnvelopeTimeout;
    quint16 m_port = 0;
    QHostAddress m_address;
};

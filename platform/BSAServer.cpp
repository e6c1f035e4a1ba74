#include "BSAServer.h"

#include <algorithm>

#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QMap>
#include <QSocketNotifier>
#include <QTcpSocket>

#include "platform/BSAConnection.h"
#include "platform/DescriptorLimit.h"
#include "platform/IncompleteEnvelope.h"
#include "platform/SocketAccept.h"
#include "platform/SocketError.h"

namespace {
using namespace std::chrono_literals;
// After the system had no descriptor to give (or another accept failure), accepting is tried again after this
// pause, or as soon as one of our connections closes.
constexpr auto RetryAcceptAfter = 1s;
// Connections taken in one turn of the event loop; more follow at the next turns, so that a burst of connects does
// not hold up the rides on the connections already open.
constexpr int MaxAcceptsPerTurn = 64;
// How often the idle connections are counted.
constexpr auto IdleCheckInterval = 1s;

QString listenApi(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("bind");
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("socket");
    default:
        return QStringLiteral("listen");
    }
}

// What the limit on open files leaves for connections once the descriptors open now and a reserve for the rest of
// the program are set aside; -1 where the system sets no limit.
qint64 connectionsAllowed()
{
    const qint64 limit = DescriptorLimit::current();
    const qint64 open = DescriptorLimit::openCount();
    if (limit < 0 || open < 0)
        return -1;
    const qint64 reserve = std::clamp(limit / 8, BSAServer::MinReserve, BSAServer::MaxReserve);
    return std::max<qint64>(1, limit - open - reserve);
}
} // namespace

BSAServer::BSAServer(QObject *parent)
    : QObject(parent)
{
    m_retryAccept.setSingleShot(true);
    m_retryAccept.setInterval(RetryAcceptAfter);
    connect(&m_retryAccept, &QTimer::timeout, this, &BSAServer::acceptAgain);
    m_idleCheck.setInterval(IdleCheckInterval);
    connect(&m_idleCheck, &QTimer::timeout, this, &BSAServer::closeIdle);
}

BSAServer::~BSAServer()
{
    stopAccepting(); // before the listening socket closes with its member
    closeConnections();
}

bool BSAServer::setActive(bool on, QString *error)
{
    if (!on) {
        stopAccepting();
        closeConnections();
        m_listener.close();
        return true;
    }
    if (m_listener.isListening())
        return true;
    m_listener.setListenBacklogSize(ListenBacklog);
    if (!m_listener.listen(m_address.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : m_address, m_port)) {
        if (error) {
            *error = SocketError::callFailed(
                m_listener.serverError(), m_listener.errorString(), listenApi(m_listener.serverError()));
        }
        return false;
    }
    // Qt 6.4 keeps the first accept error of a listening socket for good, and every burst of connects ends on "try
    // again": a later lack of descriptors then goes unreported and Qt retries that accept in a busy loop, deaf to
    // every new connection. So Qt only listens; the accepting is done here, where each failure is seen.
    m_listener.pauseAccepting();
    m_acceptNotifier = new QSocketNotifier(m_listener.socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &BSAServer::acceptPending);
    m_idleCheck.start();
    m_maxConnections = connectionsAllowed();
    return true;
}

QString BSAServer::localHostName()
{
    return QHostInfo::localHostName();
}

void BSAServer::acceptPending()
{
    for (int i = 0; i < MaxAcceptsPerTurn; ++i) {
        if (!m_acceptNotifier || m_waiting != Waiting::No || !acceptOne())
            return;
    }
    // More may wait: go on at the next turn, after the events that came meanwhile.
    QMetaObject::invokeMethod(this, &BSAServer::acceptPending, Qt::QueuedConnection);
}

// False when nothing more can be accepted now.
bool BSAServer::acceptOne()
{
    BSAConnection *makeRoom = nullptr;
    if (m_maxConnections >= 0 && m_connections.size() >= m_maxConnections) {
        makeRoom = longestSilent();
        if (!makeRoom) {
            waitBeforeAccepting(Waiting::ForConnectionsToClose, {});
            return false;
        }
    }
    const SocketAccept::Accepted accepted = SocketAccept::from(m_listener.socketDescriptor());
    switch (accepted.outcome) {
    case SocketAccept::Outcome::Connection:
        // The place is made only for a connection that is let in; the reserve of descriptors holds the one taken
        // meanwhile.
        adopt(accepted.descriptor, makeRoom);
        return true;
    case SocketAccept::Outcome::PeerGone:
        return true;
    case SocketAccept::Outcome::NoneWaiting:
        if (m_toldWaiting) {
            m_toldWaiting = false;
            emit logLine(QStringLiteral("SI: WACHTENDE VERBINDINGEN ZIJN AANGENOMEN"));
        }
        return false;
    case SocketAccept::Outcome::OutOfDescriptors:
    case SocketAccept::Outcome::Failed:
        waitBeforeAccepting(Waiting::AfterError, accepted.error);
        return false;
    }
    return false;
}

void BSAServer::adopt(qintptr descriptor, BSAConnection *makeRoom)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        emit errorOccurred(SocketError::callFailed(socket->error(), socket->errorString(), QStringLiteral("accept")));
        delete socket;
        SocketAccept::close(descriptor);
        return;
    }
    if (m_peerFilter && !m_peerFilter(socket->peerAddress())) {
        socket->abort();
        delete socket;
        return;
    }
    if (makeRoom) {
        const auto seconds = std::chrono::floor<std::chrono::seconds>(makeRoom->openFor()).count();
        emit logLine(QStringLiteral("SI: VERBINDING MET %1 GESLOTEN: NA %2 SECONDEN NOG NIETS ONTVANGEN, "
                                    "EEN NIEUWE VERBINDING WACHTTE OP EEN PLAATS")
                         .arg(makeRoom->peerAddress())
                         .arg(seconds));
        closeForIdleness(makeRoom);
        if (!m_acceptNotifier) { // a handler of clientDisconnected stopped the server
            socket->abort();
            delete socket;
            return;
        }
    }
    auto *connection = new BSAConnection(socket, this);
    connection->setEnvelopeTimeout(m_envelopeTimeout);
    connect(connection, &BSAConnection::envelopeReceived, this, &BSAServer::envelopeReceived);
    connect(connection, &BSAConnection::bufferDropped, this, &BSAServer::bufferDropped);
    connect(connection, &BSAConnection::envelopeExpired, this, &BSAServer::connectionExpired);
    connect(connection, &BSAConnection::closed, this, &BSAServer::connectionClosed);
    connect(connection, &BSAConnection::failed, this, &BSAServer::connectionFailed);
    m_connections.append(connection);
    emit clientConnected(connection);
}

// Connections stay in the system's queue meanwhile. The operator hears it once, however long it lasts, and again
// once the queue is empty.
void BSAServer::waitBeforeAccepting(Waiting reason, const QString &error)
{
    m_acceptNotifier->setEnabled(false);
    m_waiting = reason;
    if (reason == Waiting::AfterError)
        m_retryAccept.start();
    if (m_toldWaiting)
        return;
    m_toldWaiting = true;
    if (!error.isEmpty())
        emit errorOccurred(error);
    emit logLine(reason == Waiting::ForConnectionsToClose
            ? QStringLiteral("SI: %1 VERBINDINGEN OPEN, HET MAXIMUM: NIEUWE VERBINDINGEN WACHTEN")
                  .arg(m_connections.size())
            : QStringLiteral("SI: NIEUWE VERBINDINGEN WACHTEN TOT ER WEER BESTANDEN VRIJ ZIJN"));
}

void BSAServer::acceptAgain()
{
    if (m_waiting == Waiting::No || !m_acceptNotifier)
        return;
    m_retryAccept.stop();
    m_waiting = Waiting::No;
    m_acceptNotifier->setEnabled(true);
    // Tried at the next turn also when the queue emptied meanwhile (the notifier would then stay silent), so that
    // the operator hears the waiting is over.
    QMetaObject::invokeMethod(this, &BSAServer::acceptPending, Qt::QueuedConnection);
}

// The connection open longest without one byte received, once past the grace; none when there is no such one.
BSAConnection *BSAServer::longestSilent() const
{
    for (BSAConnection *connection : m_connections) { // in the order of their accept
        if (connection->hasReceivedNothing() && connection->openFor() >= m_idleGrace)
            return connection;
    }
    return nullptr;
}

void BSAServer::closeIdle()
{
    QHash<QString, int> idle; // per peer address
    for (const BSAConnection *connection : std::as_const(m_connections)) {
        if (connection->awaitsFirstEnvelope())
            ++idle[connection->peerAddress()];
    }
    QMap<QString, int> closed; // per peer address, for one line each
    const QList<BSAConnection *> connections = m_connections;
    for (BSAConnection *connection : connections) { // the idle longest first
        if (!m_acceptNotifier)
            return; // a handler of clientDisconnected stopped the server, which closed everything
        if (!connection->awaitsFirstEnvelope() || connection->openFor() < m_idleGrace)
            continue;
        int &count = idle[connection->peerAddress()];
        if (count <= MaxIdlePerAddress)
            continue;
        --count;
        ++closed[connection->peerAddress()];
        closeForIdleness(connection);
    }
    for (auto it = closed.cbegin(); it != closed.cend(); ++it) {
        emit logLine(QStringLiteral("SI: %1 VERBINDINGEN VAN %2 GESLOTEN: MEER DAN %3 ZONDER VOLLEDIG BERICHT")
                         .arg(it.value())
                         .arg(it.key())
                         .arg(MaxIdlePerAddress));
    }
    // Every place is taken and new connections wait: one that stayed silent long enough now makes room.
    if (m_waiting == Waiting::ForConnectionsToClose && longestSilent())
        acceptAgain();
}

void BSAServer::closeForIdleness(BSAConnection *connection)
{
    connection->close();
    emit clientDisconnected(connection);
    discard(connection);
}

void BSAServer::stopAccepting()
{
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
    m_idleCheck.stop();
    m_retryAccept.stop();
    m_waiting = Waiting::No;
    m_toldWaiting = false;
}

void BSAServer::connectionClosed(BSAConnection *connection)
{
    emit clientDisconnected(connection);
    discard(connection);
}

void BSAServer::connectionFailed(BSAConnection *connection, const QString &message)
{
    // No clientDisconnected: the operator's list keeps the entry of a connection that broke.
    emit errorOccurred(message);
    discard(connection);
}

void BSAServer::connectionExpired(BSAConnection *connection)
{
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(m_envelopeTimeout).count();
    emit logLine(IncompleteEnvelope::expiredLine(IncompleteEnvelope::Side::Server, connection->peerAddress(), seconds));
    connection->close();
    emit clientDisconnected(connection);
    discard(connection);
}

void BSAServer::discard(BSAConnection *connection)
{
    // A handler of the signal above may have stopped the server, which discards every connection already.
    if (!m_connections.removeOne(connection))
        return;
    disconnect(connection, nullptr, this, nullptr);
    connection->deleteLater(); // we are inside one of its signals
    acceptAgain(); // a descriptor is free again
}

void BSAServer::closeConnections()
{
    const QList<BSAConnection *> connections = std::exchange(m_connections, {});
    for (BSAConnection *connection : connections) {
        disconnect(connection, nullptr, this, nullptr);
        connection->close();
        connection->deleteLater();
    }
}

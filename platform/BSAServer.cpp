#include "BSAServer.h"

#include <chrono>

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

#include "platform/BSAConnection.h"
#include "platform/SocketError.h"

namespace {
using namespace std::chrono_literals;
// After a failed accept (no descriptors left, say) Qt stops accepting; try again after this pause.
constexpr auto ResumeAcceptingAfter = 1s;

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
} // namespace

BSAServer::BSAServer(QObject *parent)
    : QObject(parent)
{
    m_resumeAccepting.setSingleShot(true);
    m_resumeAccepting.setInterval(ResumeAcceptingAfter);
    connect(&m_resumeAccepting, &QTimer::timeout, this, [this] {
        if (m_listener.isListening())
            m_listener.resumeAccepting();
    });
    connect(&m_listener, &QTcpServer::newConnection, this, &BSAServer::acceptPending);
    connect(&m_listener, &QTcpServer::acceptError, this, &BSAServer::acceptFailed);
}

BSAServer::~BSAServer()
{
    closeConnections();
}

bool BSAServer::setActive(bool on, QString *error)
{
    if (!on) {
        m_resumeAccepting.stop();
        closeConnections();
        m_listener.close();
        return true;
    }
    if (m_listener.isListening())
        return true;
    if (m_listener.listen(m_address.isNull() ? QHostAddress(QHostAddress::AnyIPv4) : m_address, m_port))
        return true;
    if (error) {
        *error = SocketError::callFailed(
            m_listener.serverError(), m_listener.errorString(), listenApi(m_listener.serverError()));
    }
    return false;
}

QString BSAServer::localHostName()
{
    return QHostInfo::localHostName();
}

void BSAServer::acceptPending()
{
    while (m_listener.isListening() && m_listener.hasPendingConnections()) {
        auto *connection = new BSAConnection(m_listener.nextPendingConnection(), this);
        connect(connection, &BSAConnection::envelopeReceived, this, &BSAServer::envelopeReceived);
        connect(connection, &BSAConnection::bufferDropped, this, &BSAServer::bufferDropped);
        connect(connection, &BSAConnection::closed, this, &BSAServer::connectionClosed);
        connect(connection, &BSAConnection::failed, this, &BSAServer::connectionFailed);
        m_connections.append(connection);
        emit clientConnected(connection);
    }
}

void BSAServer::acceptFailed(QAbstractSocket::SocketError error)
{
    emit errorOccurred(SocketError::callFailed(error, m_listener.errorString(), QStringLiteral("accept")));
    m_resumeAccepting.start();
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

void BSAServer::discard(BSAConnection *connection)
{
    // A handler of the signal above may have stopped the server, which discards every connection already.
    if (!m_connections.removeOne(connection))
        return;
    disconnect(connection, nullptr, this, nullptr);
    connection->deleteLater(); // we are inside one of its signals
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

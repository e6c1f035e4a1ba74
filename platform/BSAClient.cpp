#include "BSAClient.h"

#include <optional>

#include "platform/SocketError.h"

BSAClient::BSAClient(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QAbstractSocket::connected, this, &BSAClient::connected);
    connect(&m_socket, &QAbstractSocket::disconnected, this, &BSAClient::socketDisconnected);
    connect(&m_socket, &QIODevice::readyRead, this, &BSAClient::readAvailable);
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &BSAClient::socketError);
}

BSAClient::~BSAClient()
{
    // The socket's own destructor would report the close to a half-destroyed client.
    disconnect(&m_socket, nullptr, this, nullptr);
    m_socket.abort();
}

void BSAClient::activate()
{
    if (isActive())
        return;
    // A replaced attempt must not leave its socket behind, nor report its failure later.
    m_socket.abort();
    m_framer.clear();
    m_socket.connectToHost(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
}

qint64 BSAClient::send(const QByteArray &bytes, QString *error)
{
    if (!isActive()) {
        if (error)
            *error = SocketError::callFailed(10057, QStringLiteral("Socket is not connected"), QStringLiteral("send"));
        return -1;
    }
    const qint64 taken = m_socket.write(bytes);
    if (taken < 0 && error)
        *error = SocketError::callFailed(m_socket.error(), m_socket.errorString(), QStringLiteral("send"));
    return taken;
}

void BSAClient::readAvailable()
{
    m_framer.append(m_socket.readAll());
    while (std::optional<QByteArray> payload = m_framer.takeEnvelope())
        emit envelopeReceived(*payload);
    if (m_framer.bufferedSize() > EnvelopeFramer::MaxBuffered) {
        m_framer.clear(); // a host that never sends the end tag must not grow memory without bound
        emit bufferDropped(m_socket.peerAddress().toString());
    }
}

void BSAClient::socketError(QAbstractSocket::SocketError error)
{
    // The host closing its end is a normal disconnect, not a failure.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    // The lookup of a host name is a call of its own that fails, not a notification on the socket.
    if (error == QAbstractSocket::HostNotFoundError) {
        emit errorOccurred(SocketError::callFailed(error, m_socket.errorString(), QStringLiteral("gethostbyname")));
        return;
    }
    emit errorOccurred(SocketError::asyncFailed(error, m_socket.errorString()));
}

void BSAClient::socketDisconnected()
{
    m_framer.clear(); // an incomplete reply dies with its connection
    emit disconnected();
}

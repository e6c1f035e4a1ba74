#include "BSAClient.h"

#include <algorithm>
#include <optional>

#include "platform/SocketError.h"

BSAClient::BSAClient(QObject *parent)
    : QObject(parent)
{
    // Bounded, so that what a turn leaves unread stays in the system and holds the host back.
    m_socket.setReadBufferSize(ReadBytesPerTurn);
    connect(&m_socket, &QAbstractSocket::connected, this, &BSAClient::connected);
    connect(&m_socket, &QAbstractSocket::disconnected, this, &BSAClient::socketDisconnected);
    connect(&m_socket, &QIODevice::readyRead, this, &BSAClient::readAvailable);
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &BSAClient::socketError);
    connect(&m_socket, &QIODevice::bytesWritten, this, [this] {
        if (m_socket.bytesToWrite() == 0)
            emit allWritten();
    });
}

BSAClient::~BSAClient()
{
    // The socket's own destructor would report the close to a half-destroyed client.
    disconnect(&m_socket, nullptr, this, nullptr);
    m_socket.abort();
}

void BSAClient::activate()
{
    const QAbstractSocket::SocketState state = m_socket.state();
    if (state == QAbstractSocket::ConnectedState)
        return;
    // Starting anew every second would never let a slow lookup or a distant host finish connecting.
    const bool underWay = state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
    if (underWay && m_attemptHost == m_host && m_attemptPort == m_port)
        return;
    // A replaced attempt must not leave its socket behind, nor report its failure later.
    m_socket.abort();
    m_framer.clear();
    m_attemptHost = m_host;
    m_attemptPort = m_port;
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
    if (taken < 0) {
        if (error)
            *error = SocketError::callFailed(m_socket.error(), m_socket.errorString(), QStringLiteral("send"));
        return taken;
    }
    // Handed to the system now rather than at the next turn of the event loop, so that the caller can tell
    // whether the host keeps up.
    m_socket.flush();
    return taken;
}

void BSAClient::close()
{
    m_socket.abort();
    m_framer.clear();
}

void BSAClient::readAvailable()
{
    m_readQueued = false;
    // Small pieces, so that the framer never holds much more than the envelope it is completing.
    constexpr qint64 Piece = 4096;
    qint64 read = 0;
    int handed = 0;
    while (handed < EnvelopesPerTurn && isActive()) {
        if (std::optional<QByteArray> payload = m_framer.takeEnvelope()) {
            ++handed;
            emit envelopeReceived(*payload); // may close the connection
            continue;
        }
        if (read >= ReadBytesPerTurn || m_socket.bytesAvailable() == 0)
            break;
        const QByteArray piece = m_socket.read(std::min(Piece, ReadBytesPerTurn - read));
        read += piece.size();
        m_framer.append(piece);
        if (m_framer.bufferedSize() > EnvelopeFramer::MaxBuffered) {
            m_framer.clear(); // a host that never sends the end tag must not grow memory without bound
            emit bufferDropped(m_socket.peerAddress().toString());
        }
    }
    if (isActive() && (handed == EnvelopesPerTurn || m_socket.bytesAvailable() > 0))
        readLater();
}

// No readyRead comes for bytes already read into the socket's buffer: the next turn reads on by itself.
void BSAClient::readLater()
{
    if (m_readQueued)
        return;
    m_readQueued = true;
    QMetaObject::invokeMethod(this, &BSAClient::readAvailable, Qt::QueuedConnection);
}

void BSAClient::socketError(QAbstractSocket::SocketError error)
{
    // The host closing its end is a normal disconnect, not a failure.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    // The lookup of a host name is a call of its own that fails, not a notification on the socket.
    if (error == QAbstractSocket::HostNotFoundError) {
        emit lookupFailed(SocketError::callFailed(error, m_socket.errorString(), QStringLiteral("gethostbyname")));
        return;
    }
    emit errorOccurred(SocketError::asyncFailed(error, m_socket.errorString()));
}

void BSAClient::socketDisconnected()
{
    m_framer.clear(); // an incomplete reply dies with its connection
    emit disconnected();
}

#include "BSAConnection.h"

#include <optional>

#include <QHostAddress>
#include <QTcpSocket>

#include "platform/SocketError.h"

namespace {

QString dottedIPv4(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

} // namespace

BSAConnection::BSAConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_peerAddress(dottedIPv4(socket->peerAddress()))
{
    m_socket->setParent(this); // the socket lives exactly as long as its connection
    m_opened.start();
    m_unfinished.setSingleShot(true);
    m_unfinished.setInterval(std::chrono::minutes(1));
    connect(&m_unfinished, &QTimer::timeout, this, &BSAConnection::unfinishedTooLong);
    // Bounded, so that bytes left unread while reading waits stay in the system and hold the peer back.
    m_socket->setReadBufferSize(ReadBufferBytes);
    connect(m_socket, &QIODevice::readyRead, this, &BSAConnection::readAvailable);
    connect(m_socket, &QIODevice::bytesWritten, this, &BSAConnection::answersWritten);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &BSAConnection::recordError);
    connect(m_socket, &QAbstractSocket::disconnected, this, &BSAConnection::socketDisconnected);
    // Bytes that came with the accept raise no readyRead of their own; read them once our owner is listening.
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &BSAConnection::readAvailable, Qt::QueuedConnection);
}

qint64 BSAConnection::send(const QByteArray &bytes, QString *error)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        if (error)
            *error = SocketError::callFailed(10057, QStringLiteral("Socket is not connected"), QStringLiteral("send"));
        return -1;
    }
    const qint64 taken = m_socket->write(bytes);
    if (taken < 0 && error)
        *error = SocketError::callFailed(m_socket->error(), m_socket->errorString(), QStringLiteral("send"));
    return taken;
}

void BSAConnection::close()
{
    m_closing = true;
    m_unfinished.stop();
    m_socket->flush();
    m_socket->abort();
}

void BSAConnection::holdReading(bool hold)
{
    m_held = hold;
    if (!hold)
        readLater();
}

bool BSAConnection::mayRead() const
{
    return !m_held && m_socket->bytesToWrite() <= MaxUnsentBytes;
}

// No readyRead comes for bytes that arrived while reading waited: read them from the event loop.
void BSAConnection::readLater()
{
    if (m_readWaits && mayRead()) {
        m_readWaits = false;
        QMetaObject::invokeMethod(this, &BSAConnection::readAvailable, Qt::QueuedConnection);
    }
}

void BSAConnection::answersWritten()
{
    readLater();
}

void BSAConnection::readAvailable()
{
    if (m_socket->bytesAvailable() > 0)
        m_receivedBytes = true;
    if (!mayRead()) {
        m_readWaits = true;
        // The rest of an open envelope may be among the bytes not read: its clock starts again once reading does.
        m_unfinished.stop();
        return;
    }
    m_framer.append(m_socket->readAll());
    // One read can hold two envelopes, or half of one: hand on each complete one, in order.
    bool completed = false;
    while (std::optional<QByteArray> payload = m_framer.takeEnvelope()) {
        completed = true;
        m_sentEnvelope = true;
        emit envelopeReceived(this, *payload);
    }
    if (m_framer.bufferedSize() > EnvelopeFramer::MaxBuffered) {
        m_framer.clear(); // a peer that never sends the end tag must not grow memory without bound
        emit bufferDropped(m_peerAddress);
    }
    // BSA sends a whole message at once: an envelope still open after the time-out is never going to end, and must
    // not hold a descriptor and its bytes for ever. The clock starts at the start tag of the envelope now open.
    if (!m_framer.hasUnfinishedEnvelope())
        m_unfinished.stop();
    else if (completed || !m_unfinished.isActive())
        m_unfinished.start();
}

void BSAConnection::unfinishedTooLong()
{
    m_framer.clear();
    emit envelopeExpired(this);
}

void BSAConnection::recordError(QAbstractSocket::SocketError error)
{
    // A peer that closes its end is a normal close, not a failure.
    if (error == QAbstractSocket::RemoteHostClosedError || m_closing)
        return;
    if (m_failure.isEmpty())
        m_failure = SocketError::asyncFailed(error, m_socket->errorString());
    // Every failure ends the connection, also one that Qt would leave open.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(m_socket, &QAbstractSocket::abort, Qt::QueuedConnection);
}

void BSAConnection::socketDisconnected()
{
    m_framer.clear(); // an incomplete envelope dies with its connection
    m_unfinished.stop();
    if (m_closing)
        return;
    if (m_failure.isEmpty())
        emit closed(this);
    else
        emit failed(this, m_failure);
}

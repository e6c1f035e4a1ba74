#pragma once

#include <memory>

#include <QHostAddress>
#include <QTcpSocket>

// 127.0.0.2 is an address of this machine that the link does not know: a client bound to it plays a peer on another
// machine while everything stays on loopback.
inline const QHostAddress ForeignPeerAddress { QStringLiteral("127.0.0.2") };

// A client whose connection to 127.0.0.1:port comes from `from`; null when the system did not complete the connect
// within five seconds (it completes it before the server takes the connection, or closes it).
inline std::unique_ptr<QTcpSocket> connectFrom(const QHostAddress &from, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(from, 0))
        return nullptr;
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket->waitForConnected(5000) ? std::move(socket) : nullptr;
}

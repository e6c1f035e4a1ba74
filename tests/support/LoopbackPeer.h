#pragma once

#include <memory>

#include <QSignalSpy>
#include <QTcpSocket>

#include "platform/BSAServer.h"

// A BSA peer connected to the server over 127.0.0.1, once the server has accepted it; null when either side did
// not get there within five seconds.
inline std::unique_ptr<QTcpSocket> connectLoopbackPeer(BSAServer &server)
{
    QSignalSpy accepted(&server, &BSAServer::clientConnected);
    auto peer = std::make_unique<QTcpSocket>();
    peer->connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!peer->waitForConnected(5000) || !accepted.wait(5000))
        return nullptr;
    return peer;
}

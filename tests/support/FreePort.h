#pragma once

#include <QHostAddress>
#include <QTcpServer>

// A port on 127.0.0.1 that was free a moment ago: nothing listens on it now, so a test can start a server there
// or expect a connect to it to be refused. 0 when the system gave no port.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort(); // closed again when probe goes
}

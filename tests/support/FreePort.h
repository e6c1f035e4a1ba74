#pragma once

#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>

// A port on 127.0.0.1 that was free a moment ago: nothing listens on it now, so a test can start a server there
// or expect a connect to it to be refused. 0 when the system gave no port.
// It is taken below the system's range of ephemeral ports: a port from that range, once the probe let it go, may
// become the local port of any outgoing connection of the tests running beside this one, and a program started on
// it would then find it taken.
inline quint16 freeLoopbackPort()
{
    int ephemeralStart = 32768;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int start = range.readAll().simplified().split(' ').value(0).toInt(&ok);
        if (ok && start > 2048)
            ephemeralStart = start;
    }
    const int lowest = qMax(1024, ephemeralStart - 12000);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint16 port = quint16(QRandomGenerator::global()->bounded(lowest, ephemeralStart));
        // Free on every IPv4 address, as the program listens by default.
        QTcpServer probe;
        if (probe.listen(QHostAddress::AnyIPv4, port))
            return port; // closed again when probe goes
    }
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>

// One HTTP exchange as a monitoring tool makes it: a connection to the address and port, the request's bytes as they
// stand, and everything the server sends until it closes. The event loop runs meanwhile, so the server may live in
// the same process. Waits at most `timeoutMs`.
struct HttpReply
{
    bool connected = false;
    bool closed = false; // the server closed the connection
    int status = 0; // 0: no status line came
    QByteArray headers;
    QByteArray body;
};

inline HttpReply httpExchange(
    const QHostAddress &address, quint16 port, const QByteArray &request, int timeoutMs = 10000)
{
    HttpReply reply;
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QIODevice::readyRead, &socket, [&] { received += socket.readAll(); });
    socket.connectToHost(address, port);
    const bool ended = QTest::qWaitFor(
        [&] {
            if (socket.state() == QAbstractSocket::ConnectedState && !reply.connected) {
                reply.connected = true;
                socket.write(request);
            }
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    received += socket.readAll();
    reply.closed = ended && reply.connected;
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (received.startsWith("HTTP/1.") && headEnd > 0) {
        reply.status = received.mid(9, 3).toInt();
        reply.headers = received.left(headEnd);
        reply.body = received.mid(headEnd + 4);
    }
    return reply;
}

inline HttpReply httpGet(quint16 port, const QByteArray &path)
{
    return httpExchange(
        QHostAddress::LocalHost, port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n\r\n");
}

// The value of one sample of a Prometheus text, such as `korvelbsa_bsa_connections` or
// `korvelbsa_rides_answered_total{kind="BN",answer="AC"}`; -1 when it is not there.
inline double metricValue(const QByteArray &text, const QByteArray &sample)
{
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(sample + ' '))
            return line.mid(sample.size() + 1).toDouble();
    }
    return -1;
}

#pragma once

#include <chrono>
#include <functional>

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QString>

#include "shell/LinkMetrics.h"

class QTcpServer;

// The status port for the monitoring: GET /health and GET /metrics over HTTP, on 127.0.0.1 only. Each connection
// carries one request and is closed after its answer; anything else than those two gets 404. Requests are small:
// a connection that sends MaxRequestBytes or more, or has not been answered within ConnectionTimeout, is closed
// without an answer, and at most MaxConnections are open at once, so that nothing on the status port can take the
// link's memory or its one thread. /health answers 200 "ok" while the link is healthy and 503 with the reasons, one a
// line, while it is not; /metrics gives the figures in Prometheus' text format.
class StatusServer final : public QAbstractHttpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusServer)
public:
    static constexpr qint64 MaxRequestBytes = 16 * 1024;
    static constexpr int MaxConnections = 16;
    static constexpr std::chrono::milliseconds ConnectionTimeout { 10000 };

    struct Answer
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };
    // The state of the link at the moment of a request.
    using LinkState = std::function<LinkMetrics::Now()>;

    // The figures and the state are asked for at every request; figures must outlive the server.
    StatusServer(const LinkMetrics &figures, LinkState state, QObject *parent = nullptr);
    ~StatusServer() override;

    // Listens on 127.0.0.1; port 0 lets the system choose (see port()). False, with the reason, when it cannot.
    bool listen(quint16 port, QString *error);
    quint16 port() const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Answer health() const;
    Answer metrics() const;
    void answer(const QHttpServerRequest &request, QTcpSocket *socket, const Answer &answer);

    const LinkMetrics &m_figures;
    LinkState m_state;
    QTcpServer *m_listener = nullptr; // a child, once listening
};

#include "StatusServer.h"

#include <unistd.h>

#include <utility>

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Accepts the status port's connections and holds each to the bounds of StatusServer before the HTTP server sees it.
class StatusListener final : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            ::close(int(descriptor));
            return;
        }
        // The sockets are our children until they are deleted: the ones still open include this one.
        if (findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly).size() > StatusServer::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        // The HTTP server keeps what it read of an unfinished request in the socket's buffer: bound it.
        socket->setReadBufferSize(StatusServer::MaxRequestBytes);
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        // Whatever the HTTP server made of the connection, it ends here.
        connect(deadline, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        deadline->start(StatusServer::ConnectionTimeout);
        // Connected before the HTTP server's own handler, so it sees every read first. The HTTP server reads all
        // that is there at each read, so what is available now is what came since the last one.
        connect(socket, &QIODevice::readyRead, socket, [socket, received = qint64(0)]() mutable {
            received += socket->bytesAvailable();
            if (received < StatusServer::MaxRequestBytes)
                return;
            // No handler may read any more of it: the socket is closed here.
            disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
            socket->abort();
        });
        addPendingConnection(socket);
    }
};

} // namespace

StatusServer::StatusServer(const LinkMetrics &figures, LinkState state, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_figures(figures)
    , m_state(std::move(state))
{ }

StatusServer::~StatusServer() = default;

bool StatusServer::listen(quint16 port, QString *error)
{
    auto *listener = new StatusListener(this);
    // Never on another address: the figures are for this machine's monitoring only.
    if (!listener->listen(QHostAddress::LocalHost, port)) {
        if (error)
            *error = QStringLiteral("the status port %1 on 127.0.0.1 cannot be opened: %2")
                         .arg(port)
                         .arg(listener->errorString());
        delete listener;
        return false;
    }
    bind(listener);
    m_listener = listener;
    return true;
}

quint16 StatusServer::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

bool StatusServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    if (get && path == QLatin1String("/health"))
        answer(request, socket, health());
    else if (get && path == QLatin1String("/metrics"))
        answer(request, socket, metrics());
    else
        missingHandler(request, socket);
    return true;
}

StatusServer::Answer StatusServer::health() const
{
    const QStringList reasons = m_figures.unhealthyReasons(m_state());
    if (reasons.isEmpty())
        return { 200, "text/plain; charset=utf-8", "ok\n" };
    return { 503, "text/plain; charset=utf-8", reasons.join(u'\n').toUtf8() + '\n' };
}

StatusServer::Answer StatusServer::metrics() const
{
    return { 200, "text/plain; version=0.0.4; charset=utf-8", m_figures.text(m_state()) };
}

void StatusServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    answer(request, socket, { 404, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("not found\n") });
}

void StatusServer::answer(const QHttpServerRequest &request, QTcpSocket *socket, const Answer &answer)
{
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        responder.write(answer.body,
            { { QByteArrayLiteral("Content-Type"), answer.contentType },
                { QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store") },
                { QByteArrayLiteral("Connection"), QByteArrayLiteral("close") } },
            QHttpServerResponder::StatusCode(answer.status));
    }
    // One request per connection: the answer is written out, then the connection closes.
    socket->disconnectFromHost();
}

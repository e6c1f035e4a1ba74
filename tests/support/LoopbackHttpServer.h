#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// One answer of the test HTTP server, and how it is delivered.
struct HttpAnswer
{
    enum class Delivery {
        Whole, // headers and body, then the connection closes
        HalfThenHold, // headers and half the body; the rest waits for releaseHeld()
        HalfThenCut, // headers and half the body, then the connection closes
        Never, // nothing at all: the request waits
    };

    int status = 200;
    QByteArray reason = "OK";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool contentLength = true; // a Content-Length header with the body's full size
    Delivery delivery = Delivery::Whole;

    static HttpAnswer ok(const QByteArray &body) { return { 200, "OK", body, {}, true, Delivery::Whole }; }
    static HttpAnswer withStatus(int code, const QByteArray &reason)
    {
        return { code, reason, reason, {}, true, Delivery::Whole };
    }
    static HttpAnswer redirect(const QByteArray &location)
    {
        return { 302, "Found", QByteArray(), { { "Location", location } }, true, Delivery::Whole };
    }
};

// A small HTTP/1.1 server on 127.0.0.1 for the update tests, with the control a real server lacks: answers cut
// halfway, held, or never sent. Every connection serves one request and closes. Unknown paths get 404. Asked as
// an HTTP proxy, it serves the path of whatever host the request names.
class LoopbackHttpServer final : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent: a path, or a whole address when the server is asked as a proxy
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
    };

    LoopbackHttpServer() { connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::accept); }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QByteArray &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(QString::fromLatin1(path)));
    }
    // Stops listening: later requests find nobody.
    void close() { m_server.close(); }

    // The answer to GET of path; HEAD gets the same status and headers without the body unless answerHead says
    // otherwise.
    void answer(const QByteArray &path, const HttpAnswer &get) { m_get.insert(path, get); }
    void answerHead(const QByteArray &path, const HttpAnswer &head) { m_head.insert(path, head); }
    // first -> first/1 -> ... -> target: hops redirections in a row.
    void redirectChain(const QByteArray &first, int hops, const QByteArray &target)
    {
        QByteArray from = first;
        for (int hop = 1; hop <= hops; ++hop) {
            const QByteArray to = hop == hops ? target : first + '/' + QByteArray::number(hop);
            answer(from, HttpAnswer::redirect(to));
            from = to;
        }
    }

    // Sends the rest of every held answer and closes those connections.
    void releaseHeld()
    {
        for (const Held &held : std::as_const(m_held)) {
            if (held.socket) {
                held.socket->write(held.rest);
                held.socket->disconnectFromHost();
            }
        }
        m_held.clear();
    }

    QList<Request> requests;
    int openConnections = 0;

signals:
    void requestReceived();
    void connectionClosed();

private:
    struct Held
    {
        QPointer<QTcpSocket> socket;
        QByteArray rest;
    };

    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++openConnections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            // A client that hangs up with unread data sends a reset, which ends the socket with an error rather
            // than disconnected(): either way the connection is gone, once.
            connect(socket, &QTcpSocket::stateChanged, this, [this, socket](QAbstractSocket::SocketState state) {
                if (state != QAbstractSocket::UnconnectedState || socket->property("closed").toBool())
                    return;
                socket->setProperty("closed", true);
                --openConnections;
                socket->deleteLater();
                emit connectionClosed();
            });
        }
    }

    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        m_buffers.remove(socket);
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        request.path = request.target;
        if (request.target.startsWith("http://")) // asked as a proxy: serve the path of any host
            request.path = QUrl::fromEncoded(request.target).path(QUrl::FullyEncoded).toLatin1();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        requests << request;
        emit requestReceived();
        respond(socket, request);
    }

    void respond(QTcpSocket *socket, const Request &request)
    {
        const bool isHead = request.method == "HEAD";
        HttpAnswer answer = HttpAnswer::withStatus(404, "Not Found");
        if (isHead && m_head.contains(request.path))
            answer = m_head.value(request.path);
        else if (m_get.contains(request.path))
            answer = m_get.value(request.path);
        if (answer.delivery == HttpAnswer::Delivery::Never)
            return;
        if (answer.status == 204 || answer.status == 304)
            answer.body.clear(); // these never carry a body

        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason + "\r\n";
        for (const auto &[name, value] : std::as_const(answer.headers))
            head += name + ": " + value + "\r\n";
        if (answer.contentLength)
            head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        if (isHead) {
            socket->disconnectFromHost();
            return;
        }
        const qsizetype half = answer.body.size() / 2;
        switch (answer.delivery) {
        case HttpAnswer::Delivery::Whole:
            socket->write(answer.body);
            socket->disconnectFromHost();
            break;
        case HttpAnswer::Delivery::HalfThenHold:
            socket->write(answer.body.left(half));
            m_held << Held { socket, answer.body.mid(half) };
            break;
        case HttpAnswer::Delivery::HalfThenCut:
            socket->write(answer.body.left(half));
            socket->disconnectFromHost();
            break;
        case HttpAnswer::Delivery::Never:
            break;
        }
    }

    QTcpServer m_server;
    QMap<QByteArray, HttpAnswer> m_get;
    QMap<QByteArray, HttpAnswer> m_head;
    QMap<QTcpSocket *, QByteArray> m_buffers;
    QList<Held> m_held;
};

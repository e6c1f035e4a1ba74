#pragma once

#include <chrono>

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QIODevice;
class QUrl;

// How one request of the update client ended.
struct UpdateHttpResult
{
    bool ok = false;
    int statusCode = 0; // 0 when no answer came (connection refused, cut, aborted)
    QString reasonPhrase; // the server's, or what went wrong when no answer came
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body; // the answer's body, when it was not written into a device
    QString detail = {}; // why, when the phrase alone would mislead ("Operation canceled" after a stall)

    // "Mislukt: 404 Not Found"; with a detail, "Mislukt: 0 Operation canceled (30 seconden niets ontvangen)"
    QString failureText() const;
    // The value of the first Content-Length header as an integer; 0 when there is none or it is no number.
    qint64 contentLength() const;
};

// The HTTP client of the update check and download: one request at a time, over HTTP/1.1 without HTTP/2, with
// the headers the update server has always seen, at most 5 redirections in a row, and a direct connection unless
// a proxy is set. A request fails on a connection failure, an answer shorter than its Content-Length, or a final
// status of 400 or more, except 401 and 407, which count as success: no credentials are ever offered.
//
// Nothing blocks: finished() is emitted from the event loop, never from inside get(), head() or abort().
class UpdateHttpClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateHttpClient)
public:
    static constexpr qint64 MaxBodyInMemory = 4 * 1024 * 1024; // descriptions and readmes are a few KB
    static constexpr int MaxRedirections = 5;
    static constexpr std::chrono::milliseconds DefaultTransferTimeout { 30000 };

    explicit UpdateHttpClient(QObject *parent = nullptr);
    ~UpdateHttpClient() override; // a request still running is aborted

    // An empty address means a direct connection; the port is text as the configuration holds it.
    void setProxy(const QString &address, const QString &port);
    QString proxyAddress() const { return m_proxyAddress; }
    QString proxyPort() const { return m_proxyPort; }
    // A request during which nothing arrives for this long fails, so a server that never answers cannot hold
    // the update hostage.
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }

    // GET: the body goes into sink as it arrives (the device stays the caller's), or into the result's body.
    // False when a request is already running; nothing is started then.
    bool get(const QUrl &url, QIODevice *sink = nullptr);
    // HEAD: the result carries the answer's header lines.
    bool head(const QUrl &url);
    // Ends the running request; it finishes as failed.
    void abort();
    bool isRunning() const { return m_running; }

    // The headers every request carries, for a look from outside.
    static QNetworkRequest makeRequest(const QUrl &url);

signals:
    // The Content-Length of the answer to a GET, as soon as its headers are in.
    void contentLengthKnown(qint64 bytes);
    // Bytes of the body received so far.
    void received(qint64 bytes);
    void finished(const UpdateHttpResult &result);

private:
    bool start(const QByteArray &verb, const QUrl &url, QIODevice *sink);
    void readAvailable();
    void replyFinished();
    void failWith(const QString &reason);
    void finishLater(const UpdateHttpResult &result);

    QNetworkAccessManager m_manager;
    QNetworkReply *m_reply = nullptr;
    QIODevice *m_sink = nullptr;
    QByteArray m_body;
    qint64 m_received = 0;
    QString m_ownFailure; // why this client ended the request itself
    QString m_proxyAddress;
    QString m_proxyPort = QStringLiteral("80");
    std::chrono::milliseconds m_transferTimeout = DefaultTransferTimeout;
    bool m_isHead = false;
    bool m_running = false;
    bool m_aborted = false; // abort() was called: a cancelled request is not a stall
};

Q_DECLARE_METATYPE(UpdateHttpResult)

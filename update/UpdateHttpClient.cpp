#include "UpdateHttpClient.h"

#include <QIODevice>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

bool countsAsSuccess(int statusCode)
{
    return statusCode == 401 || statusCode == 407;
}

} // namespace

QString UpdateHttpResult::failureText() const
{
    const QString text = QStringLiteral("Mislukt: %1 %2").arg(statusCode).arg(reasonPhrase);
    return detail.isEmpty() ? text : text + QStringLiteral(" (%1)").arg(detail);
}

qint64 UpdateHttpResult::contentLength() const
{
    for (const QNetworkReply::RawHeaderPair &header : headers) {
        if (header.first.compare("content-length", Qt::CaseInsensitive) != 0)
            continue;
        bool isNumber = false;
        const qint64 value = header.second.trimmed().toLongLong(&isNumber);
        return isNumber ? value : 0;
    }
    return 0;
}

UpdateHttpClient::UpdateHttpClient(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<UpdateHttpResult>();
    m_manager.setProxy(QNetworkProxy::NoProxy);
}

UpdateHttpClient::~UpdateHttpClient()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void UpdateHttpClient::setProxy(const QString &address, const QString &port)
{
    m_proxyAddress = address.trimmed();
    m_proxyPort = port;
    if (m_proxyAddress.isEmpty()) {
        m_manager.setProxy(QNetworkProxy::NoProxy);
        return;
    }
    bool isNumber = false;
    const quint16 number = port.trimmed().toUShort(&isNumber);
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, m_proxyAddress, isNumber ? number : 80));
}

QNetworkRequest UpdateHttpClient::makeRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Mozilla/4.0 (compatible; ICS)");
    request.setRawHeader("Accept", "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    request.setRawHeader("Pragma", "no-cache");
    // The sizes from HEAD and the hash of the download are of the bytes as stored on the server: no compression.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Never from https to http: the description decides which program gets run.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirections);
    return request;
}

bool UpdateHttpClient::get(const QUrl &url, QIODevice *sink)
{
    return start("GET", url, sink);
}

bool UpdateHttpClient::head(const QUrl &url)
{
    return start("HEAD", url, nullptr);
}

bool UpdateHttpClient::start(const QByteArray &verb, const QUrl &url, QIODevice *sink)
{
    if (m_running)
        return false;
    m_running = true;
    m_sink = sink;
    m_body.clear();
    m_received = 0;
    m_ownFailure.clear();
    m_aborted = false;
    m_isHead = verb == "HEAD";

    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https")) {
        UpdateHttpResult result;
        result.reasonPhrase = QStringLiteral("Geen HTTP-adres: %1").arg(url.toDisplayString());
        finishLater(result);
        return true;
    }

    QNetworkRequest request = makeRequest(url);
    request.setTransferTimeout(int(m_transferTimeout.count()));
    m_reply = verb == "HEAD" ? m_manager.head(request) : m_manager.get(request);
    connect(m_reply, &QIODevice::readyRead, this, &UpdateHttpClient::readAvailable);
    if (!m_isHead) {
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
            const QVariant length = m_reply ? m_reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
            if (length.isValid())
                emit contentLengthKnown(length.toLongLong());
        });
    }
    connect(m_reply, &QNetworkReply::finished, this, &UpdateHttpClient::replyFinished);
    return true;
}

void UpdateHttpClient::abort()
{
    if (m_reply) {
        m_aborted = true;
        m_reply->abort(); // replyFinished follows, with OperationCanceledError
    }
}

void UpdateHttpClient::readAvailable()
{
    if (!m_reply || !m_ownFailure.isEmpty())
        return;
    const QByteArray chunk = m_reply->readAll();
    if (chunk.isEmpty())
        return;
    if (m_sink) {
        if (m_sink->write(chunk) != chunk.size()) {
            failWith(QStringLiteral("Schrijven mislukt: %1").arg(m_sink->errorString()));
            return;
        }
    } else {
        if (m_body.size() + chunk.size() > MaxBodyInMemory) {
            failWith(QStringLiteral("Antwoord groter dan %1 bytes").arg(MaxBodyInMemory));
            return;
        }
        m_body += chunk;
    }
    m_received += chunk.size();
    emit received(m_received);
}

void UpdateHttpClient::failWith(const QString &reason)
{
    m_ownFailure = reason;
    m_reply->abort();
}

void UpdateHttpClient::replyFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    if (m_ownFailure.isEmpty() && reply->bytesAvailable() > 0)
        readAvailable();

    UpdateHttpResult result;
    result.statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    result.headers = reply->rawHeaderPairs();
    const bool carriesBody
        = !m_isHead && result.statusCode >= 200 && result.statusCode < 300 && result.statusCode != 204;
    if (!m_ownFailure.isEmpty()) {
        result.statusCode = 0;
        result.reasonPhrase = m_ownFailure;
    } else if (reply->error() == QNetworkReply::NoError && carriesBody && result.contentLength() > 0
        && m_received != result.contentLength()) {
        // The connection closed before the answer was whole, and the network layer does not always say so.
        result.statusCode = 0;
        result.reasonPhrase
            = QStringLiteral("Verbinding verbroken na %1 van %2 bytes").arg(m_received).arg(result.contentLength());
    } else if (reply->error() == QNetworkReply::NoError || countsAsSuccess(result.statusCode)) {
        result.ok = true;
        result.body = m_body;
    } else if (result.statusCode < 400) {
        // No final answer of the server: refused, cut, timed out, aborted, too many redirections.
        result.statusCode = 0;
        result.reasonPhrase = reply->errorString();
        // Nobody here cancelled it: the transfer timeout did, as nothing came for that long.
        if (reply->error() == QNetworkReply::OperationCanceledError && !m_aborted)
            result.detail = QStringLiteral("%1 seconden niets ontvangen")
                                .arg(QString::number(double(m_transferTimeout.count()) / 1000.0));
    }

    m_reply = nullptr;
    m_body.clear();
    reply->disconnect(this);
    reply->deleteLater();
    finishLater(result);
}

void UpdateHttpClient::finishLater(const UpdateHttpResult &result)
{
    QTimer::singleShot(0, this, [this, result] {
        m_running = false;
        m_sink = nullptr;
        emit finished(result);
    });
}

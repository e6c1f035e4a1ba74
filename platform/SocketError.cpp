#include "SocketError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <QCoreApplication>

namespace {

struct TextCode
{
    int errnoValue; // the system's text of this errno is one form of the message
    const char *qtText; // Qt's own text for the same cause, or nullptr
    int code;
};

// Causes that Qt reports as NetworkError (or unknown), told apart by their text.
constexpr TextCode NetworkCauses[] = {
    { ECONNRESET, nullptr, 10054 },
    { ECONNABORTED, nullptr, 10053 },
    { EPIPE, nullptr, 10053 },
    { ETIMEDOUT, "Connection timed out", 10060 },
    { ENETUNREACH, "Network unreachable", 10051 },
    { EHOSTUNREACH, "Host unreachable", 10065 },
    { ENETDOWN, nullptr, 10050 },
    { ENETRESET, nullptr, 10052 },
    { EADDRINUSE, "The bound address is already in use", 10048 },
};

QString systemText(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

// Whether the C library's text of a cause names it alone: Windows's C library has no texts for the socket causes and
// gives them all one "Unknown error", the very text Qt shows for an error it does not know.
bool namesOneCause(const QString &text)
{
    return std::count_if(std::begin(NetworkCauses), std::end(NetworkCauses), [&text](const TextCode &cause) {
        return systemText(cause.errnoValue) == text;
    }) == 1;
}

int codeOfNetworkText(const QString &errorString, int fallback)
{
    for (const TextCode &cause : NetworkCauses) {
        if (errorString == systemText(cause.errnoValue) && namesOneCause(errorString))
            return cause.code;
        if (cause.qtText
            && (errorString == QLatin1String(cause.qtText)
                || errorString == QCoreApplication::translate("QNativeSocketEngine", cause.qtText)))
            return cause.code;
    }
    return fallback;
}

} // namespace

namespace SocketError {

int winsockCode(QAbstractSocket::SocketError error, const QString &errorString)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061; // WSAECONNREFUSED
    case QAbstractSocket::RemoteHostClosedError:
        return 10053; // WSAECONNABORTED
    case QAbstractSocket::HostNotFoundError:
        return 11001; // WSAHOST_NOT_FOUND
    case QAbstractSocket::SocketAccessError:
        return 10013; // WSAEACCES
    case QAbstractSocket::SocketResourceError:
        return 10055; // WSAENOBUFS
    case QAbstractSocket::SocketTimeoutError:
        return 10060; // WSAETIMEDOUT
    case QAbstractSocket::AddressInUseError:
        return 10048; // WSAEADDRINUSE
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049; // WSAEADDRNOTAVAIL
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045; // WSAEOPNOTSUPP
    case QAbstractSocket::TemporaryError:
        return 10035; // WSAEWOULDBLOCK
    case QAbstractSocket::NetworkError:
        return codeOfNetworkText(errorString, 10050); // WSAENETDOWN
    default:
        return codeOfNetworkText(errorString, 10004); // WSAEINTR, Winsock's catch-all for an interrupted call
    }
}

QString callFailed(int code, const QString &systemText, const QString &api)
{
    return QStringLiteral("Windows socket error: %1 (%2), on API '%3'").arg(systemText, QString::number(code), api);
}

QString callFailed(QAbstractSocket::SocketError error, const QString &errorString, const QString &api)
{
    return callFailed(winsockCode(error, errorString), errorString, api);
}

QString asyncFailed(int code)
{
    return QStringLiteral("Asynchronous socket error %1").arg(code);
}

QString asyncFailed(QAbstractSocket::SocketError error, const QString &errorString)
{
    return asyncFailed(winsockCode(error, errorString));
}

} // namespace SocketError

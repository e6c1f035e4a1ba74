#include "platform/SocketAccept.h"

#include <cerrno>

#include "platform/SocketError.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
SocketAccept::Accepted failedAccept(SocketAccept::Outcome outcome, int winsockCode, int systemCode)
{
    return { outcome, -1, SocketError::callFailed(winsockCode, qt_error_string(systemCode), QStringLiteral("accept")) };
}
} // namespace

#ifdef Q_OS_WIN
SocketAccept::Accepted SocketAccept::from(qintptr listener)
{
    const SOCKET socket = ::accept(SOCKET(listener), nullptr, nullptr);
    if (socket != INVALID_SOCKET)
        return { SocketAccept::Outcome::Connection, qintptr(socket), {} };
    const int code = ::WSAGetLastError();
    switch (code) {
    case WSAEWOULDBLOCK:
        return {};
    case WSAECONNRESET:
    case WSAEINTR:
        return { SocketAccept::Outcome::PeerGone, -1, {} };
    case WSAEMFILE:
    case WSAENOBUFS:
        return failedAccept(SocketAccept::Outcome::OutOfDescriptors, code, code);
    default:
        return failedAccept(SocketAccept::Outcome::Failed, code, code);
    }
}

void SocketAccept::close(qintptr descriptor)
{
    ::closesocket(SOCKET(descriptor));
}
#else
SocketAccept::Accepted SocketAccept::from(qintptr listener)
{
#ifdef Q_OS_LINUX
    const int socket = ::accept4(int(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
#else
    const int socket = ::accept(int(listener), nullptr, nullptr);
#endif
    if (socket >= 0)
        return { SocketAccept::Outcome::Connection, qintptr(socket), {} };
    const int code = errno;
    switch (code) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return {};
    case EMFILE:
    case ENFILE:
        return failedAccept(SocketAccept::Outcome::OutOfDescriptors, 10024, code); // WSAEMFILE
    case ENOBUFS:
    case ENOMEM:
        return failedAccept(SocketAccept::Outcome::OutOfDescriptors, 10055, code); // WSAENOBUFS
    // A connection that broke before it was taken, or a network error it left behind: the next one may be fine.
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case EOPNOTSUPP:
#ifdef ENONET
    case ENONET:
#endif
        return { SocketAccept::Outcome::PeerGone, -1, {} };
    case EPERM:
    case EACCES:
        return failedAccept(SocketAccept::Outcome::Failed, 10013, code); // WSAEACCES
    default:
        return failedAccept(SocketAccept::Outcome::Failed, 10022, code); // WSAEINVAL
    }
}

void SocketAccept::close(qintptr descriptor)
{
    ::close(int(descriptor));
}
#endif

#include "platform/DatabaseDeadline.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX

#include <atomic>
#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <sys/time.h>

namespace {

// Read and written by the signal handler: lock-free atomics only.
std::atomic<int> armedSocket { -1 };
std::atomic<bool> socketShutDown { false };
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

extern "C" void deadlinePassed(int)
{
    const int savedErrno = errno;
    const int socket = armedSocket.exchange(-1);
    if (socket >= 0) {
        ::shutdown(socket, SHUT_RDWR); // async-signal-safe; wakes the driver's poll() and recv()
        socketShutDown.store(true);
    }
    errno = savedErrno;
}

bool installHandler()
{
    struct sigaction action = {};
    action.sa_handler = deadlinePassed;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // other calls of the thread go on as if nothing happened
    return sigaction(SIGALRM, &action, nullptr) == 0;
}

void setTimer(std::chrono::microseconds after)
{
    itimerval timer = {};
    timer.it_value.tv_sec = static_cast<time_t>(after.count() / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(after.count() % 1000000);
    setitimer(ITIMER_REAL, &timer, nullptr);
}

} // namespace

DatabaseDeadline::DatabaseDeadline(int socket, std::chrono::milliseconds bound)
{
    static const bool handlerInstalled = installHandler();
    if (socket < 0 || bound.count() <= 0 || !handlerInstalled)
        return;
    Q_ASSERT(armedSocket.load() < 0); // deadlines never nest
    socketShutDown.store(false);
    armedSocket.store(socket);
    setTimer(bound);
    m_armed = true;
}

DatabaseDeadline::~DatabaseDeadline()
{
    if (!m_armed)
        return;
    // The socket first: a signal that still comes finds nothing to shut down.
    armedSocket.store(-1);
    setTimer(std::chrono::microseconds::zero());
}

bool DatabaseDeadline::expired() const
{
    return m_armed && socketShutDown.load();
}

#else

DatabaseDeadline::DatabaseDeadline(int, std::chrono::milliseconds) { }

DatabaseDeadline::~DatabaseDeadline() = default;

bool DatabaseDeadline::expired() const
{
    return false;
}

#endif

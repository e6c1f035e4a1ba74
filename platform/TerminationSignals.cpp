#include "TerminationSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler may only write to a pipe; the event loop reads the other end. One pair for the whole process.
int s_pipe[2] = { -1, -1 };

// A service manager's stop, Ctrl+C, and the end of the terminal or session the program was started from.
constexpr int EndingSignals[] = { SIGTERM, SIGINT, SIGHUP };

// Whether the end of the terminal is to be ignored: started through nohup, the program outlives its terminal.
bool hangupIgnoredAtStart()
{
    struct sigaction current = {};
    return ::sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

bool handles(int signalNumber)
{
    static const bool hangupIgnored = hangupIgnoredAtStart();
    return signalNumber != SIGHUP || !hangupIgnored;
}

void onSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (s_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, s_pipe) != 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : EndingSignals) {
        if (handles(signalNumber))
            ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    for (const int signalNumber : EndingSignals) {
        if (handles(signalNumber))
            ::signal(signalNumber, SIG_DFL);
    }
}

void TerminationSignals::readSignal()
{
    char byte = 0;
    if (::read(s_pipe[0], &byte, 1) == 1)
        emit terminationRequested(int(byte));
}

#else
#include <windows.h>

#include <QMetaObject>
#include <QPointer>

namespace {
QPointer<TerminationSignals> s_instance;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    // Called on a thread of its own: hand the request to the event loop.
    if (!s_instance)
        return FALSE;
    QMetaObject::invokeMethod(s_instance.data(), "terminationRequested", Qt::QueuedConnection, Q_ARG(int, int(event)));
    return TRUE;
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    s_instance = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

void TerminationSignals::readSignal() { }
#endif

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
        deliver(int(byte));
}

void TerminationSignals::deliver(int event)
{
    emit terminationRequested(event);
}

#else
#include <atomic>

#include <qt_windows.h>

#include <QMetaObject>

namespace {
std::atomic<TerminationSignals *> s_instance { nullptr };
HANDLE s_done = nullptr; // set once the close sequence of a console event has run

// Windows ends the process as soon as this returns for the console's close (and at log-off or shut-down): wait,
// bounded, until the event loop has run the close sequence. Called on a thread of its own.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    TerminationSignals *instance = s_instance.load();
    if (!instance)
        return FALSE;
    QMetaObject::invokeMethod(instance, "deliver", Qt::QueuedConnection, Q_ARG(int, int(event)));
    WaitForSingleObject(s_done, DWORD(TerminationSignals::ConsoleWaitMs));
    return TRUE;
}

// The end of the user's session, and a polite request to end (WM_CLOSE), reach a program through its top-level
// windows only; a hidden one stands in for the program without a window. Its messages come on the event loop's thread,
// and the process may be ended as soon as WM_ENDSESSION returns: the close sequence runs before that.
LRESULT CALLBACK onSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return TRUE; // the window of the program, if any, asks the operator; this one does not stand in the way
    if (message == WM_CLOSE) {
        // What taskkill without /F and QProcess::terminate() send to a program's windows: the request to end, as
        // SIGTERM is on Linux.
        TerminationSignals *instance = s_instance.load();
        if (instance)
            QMetaObject::invokeMethod(instance, "deliver", Qt::QueuedConnection, Q_ARG(int, int(WM_CLOSE)));
        return 0;
    }
    if (message == WM_ENDSESSION) {
        TerminationSignals *instance = s_instance.load();
        if (wParam && instance)
            instance->deliver(int(WM_ENDSESSION));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t SessionWindowClass[] = L"KorvelBSASessionEnd";
} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (!s_done)
        s_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_instance = this;
    // A program started in a new process group (start /b, a service wrapper) has Ctrl+C switched off: on again.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = onSessionMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = SessionWindowClass;
    RegisterClassW(&windowClass); // fails harmlessly when a second instance registers it again
    m_sessionWindow = CreateWindowExW(0, SessionWindowClass, L"KorvelBSA", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
        windowClass.hInstance, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    s_instance = nullptr;
    if (m_sessionWindow)
        DestroyWindow(static_cast<HWND>(m_sessionWindow));
    if (s_done)
        SetEvent(s_done); // a console event still waiting has nothing left to wait for
}

void TerminationSignals::deliver(int event)
{
    emit terminationRequested(event);
    SetEvent(s_done);
}

void TerminationSignals::readSignal() { }
#endif

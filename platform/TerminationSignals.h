#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the operating system's requests to end the program into a signal on the event loop, so that the program ends
// through its normal close sequence: SIGTERM, SIGINT and SIGHUP (a SIGHUP that was ignored when the program started,
// nohup, stays ignored); on Windows Ctrl+C, Ctrl+Break and the close of the console, and the end of the user's
// session (WM_ENDSESSION). On Windows the slots connected to terminationRequested must run the whole close sequence
// before they return: the process may be ended right after. WM_CLOSE to its hidden window (taskkill without /F,
// QProcess::terminate()) counts as SIGTERM does.
class TerminationSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // How long a console event waits for the close sequence before Windows may end the process (it allows 5 s for
    // the console's close).
    static constexpr int ConsoleWaitMs = 4500;

    // Emits terminationRequested, and lets a waiting console event go. Windows only; called on the event loop.
    Q_INVOKABLE void deliver(int event);

signals:
    // The signal number, or on Windows the console event or WM_ENDSESSION.
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
    void *m_sessionWindow = nullptr; // Windows: the hidden top-level window that hears the end of the session
};

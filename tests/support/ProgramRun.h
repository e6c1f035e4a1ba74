#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "tests/support/UnixOnly.h"

// One run of the program as a service manager or an operator starts it, its standard output gathered as it comes.
// Every wait is bounded; the destructor kills a program the test did not end.
class ProgramRun
{
public:
    ProgramRun()
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
            [this] { m_output += lines(m_process.readAllStandardOutput()); });
    }
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    void setEnvironment(const QProcessEnvironment &environment) { m_process.setProcessEnvironment(environment); }

    // The limit on open files the program starts with; it may raise the first number to the second.
    void limitDescriptors(rlim_t soft, rlim_t hard) { limit(RLIMIT_NOFILE, soft, hard); }

    // The size no file of the program may grow past, as on a full disk.
    void limitFileSize(rlim_t bytes) { limit(RLIMIT_FSIZE, bytes, bytes); }

    // Any command line; false when the command did not start.
    bool start(const QString &command, const QStringList &arguments)
    {
        m_process.start(command, arguments);
        return m_process.waitForStarted(5000);
    }

#ifdef KORVELBSA_PROGRAM
    // The program without its window on the program folder `home`, BSA's port `port`, and more options.
    bool startHeadless(const QString &home, quint16 port, const QStringList &more = {})
    {
        return start(QStringLiteral(KORVELBSA_PROGRAM),
            QStringList { "--headless", "--home", home, "--server-port", QString::number(port) } + more);
    }
#endif

    // False when the text did not come within the time or the program ended first.
    bool waitFor(const QByteArray &text, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_output.contains(text) && !deadline.hasExpired() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(100);
        m_output += lines(m_process.readAllStandardOutput());
        return m_output.contains(text);
    }

    // Waits for the program to end by itself: its exit code, or -1 when it did not end in time or crashed.
    int waitForEnd(int timeoutMs = 15000)
    {
        const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
        m_output += lines(m_process.readAllStandardOutput());
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // SIGTERM, as a service manager stops it: the exit code, or -1 when it did not end in time or crashed.
    int stop()
    {
        m_process.terminate();
        return waitForEnd(20000);
    }

    QProcess &process()
    {
        return m_process;
    }
    const QByteArray &output() const
    {
        return m_output;
    }
    QByteArray tail() const
    {
        return m_output.right(3000);
    }

private:
    // The program's output with its lines ended by LF alone, as on Linux (a Windows console ends them with CR LF).
    static QByteArray lines(QByteArray output)
    {
#ifdef Q_OS_WIN
        output.replace("\r\n", "\n");
#endif
        return output;
    }

    void limit(int resource, rlim_t soft, rlim_t hard)
    {
#ifdef Q_OS_UNIX
        m_process.setChildProcessModifier([resource, soft, hard] {
            const rlimit limit { soft, hard };
            ::setrlimit(resource, &limit);
        });
#else
        Q_UNUSED(resource)
        Q_UNUSED(soft)
        Q_UNUSED(hard) // the tests that limit the program skip on Windows
#endif
    }

    QByteArray m_output; // before the process, which may still hand over output while it is destroyed
    QProcess m_process;
};

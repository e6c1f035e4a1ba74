#include "HeadlessRun.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include "platform/TerminationSignals.h"
#include "shell/Koppeling.h"

namespace {
void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The operator log on standard output. A batch of rides gives several lines each; they are flushed together at the
// end of the event loop's turn, so that a service manager's journal sees them as they happen without a write per line.
class LogOutput final
{
public:
    LogOutput()
    {
        m_flush.setSingleShot(true);
        m_flush.setInterval(0);
        QObject::connect(&m_flush, &QTimer::timeout, &m_flush, [] { std::fflush(stdout); });
    }
    ~LogOutput() { std::fflush(stdout); }

    void write(const QString &line)
    {
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        if (!m_flush.isActive())
            m_flush.start();
    }

private:
    QTimer m_flush;
};
} // namespace

int runHeadless(const QString &programFolder, const QString &serverPort)
{
    LogOutput output;
    Koppeling koppeling(programFolder);
    QObject::connect(
        &koppeling, &Koppeling::logLineAdded, &koppeling, [&output](const QString &line) { output.write(line); });

    QString error;
    if (!koppeling.start(&error)) {
        writeLine(stderr, QStringLiteral("KorvelBSA: ") + error);
        return 1;
    }
    if (!serverPort.isEmpty()) {
        Settings settings = koppeling.settings();
        settings.BSAServerPoort = serverPort;
        koppeling.setSettings(settings);
    }

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &koppeling, [&koppeling] {
        // Nobody is there to answer a question: end through the close sequence at once. A log that cannot be
        // archived must not keep a service from stopping; its lines went to standard output already.
        if (!koppeling.closeConfirmed(QDateTime::currentDateTime()))
            writeLine(stderr, QStringLiteral("KorvelBSA: the operator log could not be archived"));
        // The log is archived by now: standard error is the only place left to say that the settings were lost.
        QString error;
        if (!koppeling.finish(&error))
            writeLine(stderr, QStringLiteral("KorvelBSA: ") + error);
        QCoreApplication::quit();
    });

    koppeling.BtnExecuteClick(QDateTime::currentDateTime());
    return QCoreApplication::exec();
}

#include "HeadlessRun.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include "app/RunOptions.h"
#include "codec/AnsiCodePage.h"
#include "platform/DescriptorLimit.h"
#include "platform/TerminationSignals.h"
#include "shell/Koppeling.h"
#include "shell/ProgramFolderLock.h"

namespace {
void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = OperatorLog::shown(line).toLocal8Bit() + '\n';
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
        // ASCII is the same in every locale's encoding, and turned into bytes many characters at a time.
        const QByteArray bytes = AnsiCodePage::isAscii(line) ? line.toLatin1() : line.toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fputc('\n', stdout);
        if (!m_flush.isActive())
            m_flush.start();
    }

private:
    QTimer m_flush;
};

// The tests' hook for shorter timers: BSA_TEST_INTERVALS_MS="RETOURZENDER,TIMER1" in milliseconds, optionally
// followed by ",REPLY,PAUSE": how long a status message waits for the BSA host's answer and the first pause before it
// goes again (the pauses then grow to 16 times that). Without it the timers run at 15000 and 1000 ms, the answer is
// awaited 30 s and the pauses run from 30 s to 15 min.
void applyTestIntervals(Koppeling &koppeling)
{
    const QString value = qEnvironmentVariable("BSA_TEST_INTERVALS_MS");
    if (value.isEmpty())
        return;
    const QStringList parts = value.split(QLatin1Char(','));
    QList<int> times;
    for (const QString &part : parts) {
        bool ok = false;
        const int time = part.toInt(&ok);
        times << (ok ? time : 0);
    }
    const bool fits = (times.size() == 2 || times.size() == 4)
        && std::all_of(times.cbegin(), times.cend(), [](int time) { return time > 0; });
    if (!fits) {
        writeLine(stderr, QStringLiteral("KorvelBSA: BSA_TEST_INTERVALS_MS ignored: '%1'").arg(value));
        return;
    }
    writeLine(stderr, QStringLiteral("KorvelBSA: test intervals %1 ms").arg(value));
    koppeling.setTimerIntervalsForTest(std::chrono::milliseconds(times[0]), std::chrono::milliseconds(times[1]));
    if (times.size() == 4) {
        koppeling.setHostTimesForTest(std::chrono::milliseconds(times[2]), std::chrono::milliseconds(times[3]),
            std::chrono::milliseconds(times[3]) * 16);
    }
}
} // namespace

int runHeadless(const QString &programFolder, const RunOptions &options)
{
    // Held until the settings are written at the very end, after the link is gone.
    ProgramFolderLock lock(programFolder);
    QString reason;
    switch (lock.take(&reason)) {
    case ProgramFolderLock::Outcome::Held:
        break;
    case ProgramFolderLock::Outcome::InUse:
        writeLine(stderr, reason);
        return ProgramFolderLock::InUseExitStatus;
    case ProgramFolderLock::Outcome::Failed:
        writeLine(stderr, QStringLiteral("KorvelBSA: ") + reason);
        return 2; // as a program folder that cannot be made
    }

    LogOutput output;
    Koppeling koppeling(programFolder);
    QObject::connect(
        &koppeling, &Koppeling::logLineAdded, &koppeling, [&output](const QString &line) { output.write(line); });

    applyTestIntervals(koppeling);
    QString error;
    if (!koppeling.start(&error)) {
        writeLine(stderr, QStringLiteral("KorvelBSA: ") + error);
        return 1;
    }
    if (!applyRunOptions(koppeling, options, &error)) {
        // The monitoring was asked for and would see nothing: a service manager tries again later.
        writeLine(stderr, QStringLiteral("KorvelBSA: ") + error);
        koppeling.finish();
        return 3;
    }
    const qint64 descriptors = DescriptorLimit::current();
    if (descriptors >= 0)
        koppeling.Logger(QStringLiteral("Maximaal aantal open bestanden: %1").arg(descriptors));
    // Without a database every ride is refused; a new program folder has no settings file, so say how to set one.
    if (!koppeling.hasPlanningDatabase()) {
        koppeling.Logger(Koppeling::noPlanningDatabaseNotice()
            + QStringLiteral(" Stel xLoginServer_Text in KorvelBSA.xml in, bijvoorbeeld op sqlite:BSA/planning.db "
                             "(zie docs/administration.md, The planning database)"));
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

    // The reason a start fails is in the log too.
    QString startFailure;
    if (!koppeling.toggleServer(QDateTime::currentDateTime(), &startFailure)) {
        // Nobody presses the button again here: a link that does not listen must not look healthy to a service
        // manager. The run ends as at SIGTERM, so that the log archive holds the reason too. Status 3, as for a taken
        // status port: a port may come free (an old run still ending), so a service manager tries again.
        koppeling.closeConfirmed(QDateTime::currentDateTime());
        koppeling.finish();
        writeLine(stderr, QStringLiteral("KorvelBSA: the BSA server cannot listen: ") + startFailure);
        return 3;
    }
    return QCoreApplication::exec();
}

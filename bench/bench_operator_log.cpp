// What the operator log costs the one thread: a line as it is shown (control characters, the cut of a long line),
// and the archive of a log that reached its bound, which every connection waits for while it is written.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include "shell/OperatorLog.h"
#include "shell/WorkingFolders.h"

namespace {

// A log line of a ride as the link writes many of: the envelope in hexadecimal.
QString rideLine()
{
    return QStringLiteral("SI: <ZORVAN>") + QString(1400, QLatin1Char('4')) + QStringLiteral("<EINDE>");
}

void BM_ShownPlainLine(benchmark::State &state)
{
    const QString line = rideLine();
    for (auto _ : state)
        benchmark::DoNotOptimize(OperatorLog::shown(line));
}
BENCHMARK(BM_ShownPlainLine);

void BM_ShownLineWithControlCharacters(benchmark::State &state)
{
    QString line = rideLine();
    for (qsizetype i = 100; i < line.size(); i += 100)
        line[i] = QLatin1Char('\n');
    for (auto _ : state)
        benchmark::DoNotOptimize(OperatorLog::shown(line));
}
BENCHMARK(BM_ShownLineWithControlCharacters);

void BM_ShownLineOfAMegabyte(benchmark::State &state)
{
    const QString line(1024 * 1024, QLatin1Char('4'));
    for (auto _ : state)
        benchmark::DoNotOptimize(OperatorLog::shown(line));
}
BENCHMARK(BM_ShownLineOfAMegabyte);

// One archive of a log just past its character bound, in lines of the given length: the longest stall a large log
// can cause. The file is written to the disk's cache, as the link's archive is (no flush to the disk).
void BM_ArchiveAtTheBound(benchmark::State &state)
{
    const qsizetype length = state.range(0);
    QTemporaryDir home;
    createWorkingFolders(home.path());
    OperatorLog log(home.path());
    const QString line(length, QLatin1Char('4'));
    QDateTime at = QDateTime(QDate(2026, 12, 10), QTime(0, 0, 0));
    for (auto _ : state) {
        state.PauseTiming();
        while (log.characterCount() <= OperatorLog::MaxCharacters)
            log.addLine(line);
        at = at.addSecs(1); // a file of its own each time
        state.ResumeTiming();
        if (!log.archive(at))
            state.SkipWithError("the archive could not be written");
    }
    state.counters["MB"] = double(OperatorLog::MaxCharacters) / 1e6;
}
BENCHMARK(BM_ArchiveAtTheBound)->Arg(100)->Arg(OperatorLog::MaxLineLength)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

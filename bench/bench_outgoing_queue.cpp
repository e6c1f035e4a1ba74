// What the outgoing queue costs the one thread per message, with a short queue and with the queue that a host down
// for days leaves behind: the wall time of one send and of one new line, the bytes each writes, and the pause of
// writing the whole file (what every send cost when the file was rewritten at each change, and what cutting the
// sent lines from the file costs once in a while).
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include "feedback/OutgoingQueue.h"
#include "files/PrivateFile.h"

namespace {

// A status message of 30 fields in its hexadecimal form is about 680 characters: 200,000 of them make 136 MB.
constexpr int LineLength = 680;
constexpr int Iterations = 1000;

QString queuedLine(int number)
{
    return QString::number(number, 16).toUpper().rightJustified(LineLength, QLatin1Char('4'));
}

QByteArray queueFile(int lines)
{
    QByteArray bytes;
    bytes.reserve(qsizetype(lines) * (LineLength + 2));
    for (int i = 0; i < lines; ++i) {
        bytes += queuedLine(i).toLatin1();
        bytes += "\r\n";
    }
    return bytes;
}

// The bytes this process handed to write() so far (Linux), 0 elsewhere.
qint64 bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("wchar: "))
            return line.mid(7).toLongLong();
    }
    return 0;
}

struct Fixture
{
    explicit Fixture(int waiting)
        : queue(folder.path())
    {
        QFile file(queue.fileName());
        if (!file.open(QIODevice::WriteOnly) || file.write(queueFile(waiting)) < 0)
            qFatal("the queue's file cannot be written");
        file.close();
        queue.restore();
    }
    QTemporaryDir folder;
    OutgoingQueue queue;
};

// One send; a new line queued after it, not timed, keeps the queue's length.
void BM_SendOne(benchmark::State &state)
{
    Fixture fixture(int(state.range(0)));
    qint64 written = 0;
    int number = 0;
    for (auto _ : state) {
        const qint64 before = bytesWritten();
        fixture.queue.removeFirst();
        written += bytesWritten() - before;
        state.PauseTiming();
        fixture.queue.append(queuedLine(++number));
        state.ResumeTiming();
    }
    state.counters["bytes_written"] = benchmark::Counter(double(written), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SendOne)->Arg(10)->Arg(200000)->Iterations(Iterations)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One new line; a send after it, not timed, keeps the queue's length.
void BM_QueueOne(benchmark::State &state)
{
    Fixture fixture(int(state.range(0)));
    qint64 written = 0;
    int number = 0;
    for (auto _ : state) {
        const qint64 before = bytesWritten();
        fixture.queue.append(queuedLine(++number));
        written += bytesWritten() - before;
        state.PauseTiming();
        fixture.queue.removeFirst();
        state.ResumeTiming();
    }
    state.counters["bytes_written"] = benchmark::Counter(double(written), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_QueueOne)->Arg(10)->Arg(200000)->Iterations(Iterations)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The file of so many lines written whole, synced and renamed into place.
void BM_WriteWholeFile(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString fileName = folder.filePath(QLatin1String(OutgoingQueue::FileName));
    const QByteArray bytes = queueFile(int(state.range(0)));
    for (auto _ : state) {
        QString error;
        if (!PrivateFile::replace(fileName, bytes, &error))
            state.SkipWithError(qPrintable(error));
    }
    state.counters["bytes_written"] = benchmark::Counter(double(bytes.size()));
}
BENCHMARK(BM_WriteWholeFile)
    ->Arg(10)
    ->Arg(100000)
    ->Arg(200000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();

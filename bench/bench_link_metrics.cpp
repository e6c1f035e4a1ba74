// What counting for the status port costs the link: once per answered ride, and once per scrape of /metrics.
#include <chrono>

#include <benchmark/benchmark.h>

#include <QObject>
#include <QString>

#include "shell/LinkMetrics.h"

namespace {

// Stands in for the intake: the same signal, connected the way the owner connects it.
class Answers final : public QObject
{
    Q_OBJECT
signals:
    void answered(const QString &soort, bool accepted, std::chrono::nanoseconds latency);
};

// One answered ride, through the signal into the figures.
void BM_RideAnsweredThroughTheSignal(benchmark::State &state)
{
    Answers answers;
    LinkMetrics metrics;
    QObject::connect(&answers, &Answers::answered, &metrics, &LinkMetrics::rideAnswered);
    const QString soort = QStringLiteral("BN");
    std::chrono::nanoseconds latency { 700'000 };
    for (auto _ : state) {
        emit answers.answered(soort, true, latency);
        latency += std::chrono::nanoseconds(13'000);
        if (latency > std::chrono::milliseconds(30))
            latency = std::chrono::nanoseconds(700'000);
    }
}
BENCHMARK(BM_RideAnsweredThroughTheSignal);

// The same signal with nothing connected: what the intake pays without a status port.
void BM_RideAnsweredNotCounted(benchmark::State &state)
{
    Answers answers;
    const QString soort = QStringLiteral("BN");
    for (auto _ : state)
        emit answers.answered(soort, true, std::chrono::nanoseconds(700'000));
}
BENCHMARK(BM_RideAnsweredNotCounted);

// One scrape's text.
void BM_MetricsText(benchmark::State &state)
{
    LinkMetrics metrics;
    for (int i = 0; i < 1000; ++i)
        metrics.rideAnswered(QStringLiteral("BN"), true, std::chrono::microseconds(100 * i));
    const LinkMetrics::Now now { true, true, 20, 3, QDateTime(), 0 };
    for (auto _ : state)
        benchmark::DoNotOptimize(metrics.text(now));
}
BENCHMARK(BM_MetricsText);

} // namespace

BENCHMARK_MAIN();

#include "bench_link_metrics.moc"

#include "LoadReport.h"

#include <algorithm>
#include <cmath>

#include <QJsonDocument>
#include <QJsonObject>

double LoadReport::ridesPerSecond() const
{
    return seconds > 0 ? ridesAnswered / seconds : 0;
}

double LoadReport::messagesPerSecond() const
{
    return seconds > 0 ? (acknowledged + refused + wrong) / seconds : 0;
}

double LoadReport::latencyPercentileMs(double percentile) const
{
    if (latenciesMs.isEmpty())
        return 0;
    QList<double> sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype rank = qsizetype(std::ceil(percentile / 100.0 * sorted.size()));
    return sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
}

double LoadReport::latencyMedianMs() const
{
    if (latenciesMs.isEmpty())
        return 0;
    QList<double> sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype middle = sorted.size() / 2;
    return sorted.size() % 2 ? sorted.at(middle) : (sorted.at(middle - 1) + sorted.at(middle)) / 2;
}

double LoadReport::latencyMaxMs() const
{
    return latenciesMs.isEmpty() ? 0 : *std::max_element(latenciesMs.cbegin(), latenciesMs.cend());
}

QString LoadReport::text() const
{
    return QStringLiteral("%1 rides and %2 cancellations over %3 connections in %4 s: %5 rides/s, %6 messages/s\n"
                          "answers: %7 AC, %8 NC, %9 wrong, %10 missing\n"
                          "latency: median %11 ms, p99 %12 ms, max %13 ms")
        .arg(rides)
        .arg(cancellations)
        .arg(connections)
        .arg(seconds, 0, 'f', 3)
        .arg(ridesPerSecond(), 0, 'f', 1)
        .arg(messagesPerSecond(), 0, 'f', 1)
        .arg(acknowledged)
        .arg(refused)
        .arg(wrong)
        .arg(missing)
        .arg(latencyMedianMs(), 0, 'f', 3)
        .arg(latencyPercentileMs(99), 0, 'f', 3)
        .arg(latencyMaxMs(), 0, 'f', 3);
}

QByteArray LoadReport::json() const
{
    // Microseconds are as fine as the clock of a loop of sockets measures.
    const auto ms = [](double value) { return std::round(value * 1000) / 1000; };
    const QJsonObject summary {
        { QStringLiteral("connections"), connections },
        { QStringLiteral("rides"), rides },
        { QStringLiteral("cancellations"), cancellations },
        { QStringLiteral("acknowledged"), acknowledged },
        { QStringLiteral("refused"), refused },
        { QStringLiteral("wrong"), wrong },
        { QStringLiteral("missing"), missing },
        { QStringLiteral("seconds"), std::round(seconds * 1e6) / 1e6 },
        { QStringLiteral("ridesPerSecond"), std::round(ridesPerSecond() * 10) / 10 },
        { QStringLiteral("messagesPerSecond"), std::round(messagesPerSecond() * 10) / 10 },
        { QStringLiteral("latencyMedianMs"), ms(latencyMedianMs()) },
        { QStringLiteral("latencyP99Ms"), ms(latencyPercentileMs(99)) },
        { QStringLiteral("latencyMaxMs"), ms(latencyMaxMs()) },
        { QStringLiteral("ok"), ok() },
    };
    return QJsonDocument(summary).toJson(QJsonDocument::Compact);
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What one run of `bsa-sim load` saw: counts of answers and how long they took.
struct LoadReport
{
    int connections = 0;
    int rides = 0; // "BN" messages planned
    int cancellations = 0; // "BV" messages planned
    int acknowledged = 0; // "AC" with the ride number of the message
    int refused = 0; // "NC"
    int wrong = 0; // unreadable, another ride number, another kind, or an answer nobody asked for
    int missing = 0; // planned messages without an answer, sent or not
    int ridesAnswered = 0; // "BN" messages that got an answer of any kind
    double seconds = 0; // first send to last answer
    QList<double> latenciesMs; // one per answered message: message fully written to its answer read

    int messages() const { return rides + cancellations; }
    bool ok() const { return acknowledged == messages() && refused == 0 && wrong == 0 && missing == 0; }
    double ridesPerSecond() const;
    double messagesPerSecond() const;
    // Nearest-rank percentile (0 to 100) of the latencies; 0 without any.
    double latencyPercentileMs(double percentile) const;
    double latencyMedianMs() const;
    double latencyMaxMs() const;

    QString text() const;
    // One line of JSON for scripts and benchmarks.
    QByteArray json() const;
};

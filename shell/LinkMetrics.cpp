#include "LinkMetrics.h"

#include <QDateTime>

namespace {

// Seconds with millisecond or finer precision; Prometheus reads any floating-point notation.
QByteArray seconds(double value)
{
    return QByteArray::number(value, 'g', 12);
}

class Exposition
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_text += QByteArrayLiteral("# HELP ") + name + ' ' + help + QByteArrayLiteral("\n# TYPE ") + name + ' ' + type
            + '\n';
    }
    void sample(const QByteArray &name, const QByteArray &value) { m_text += name + ' ' + value + '\n'; }
    void sample(const QByteArray &name, quint64 value) { sample(name, QByteArray::number(value)); }
    void gauge(const char *name, const char *help, const QByteArray &value)
    {
        family(name, "gauge", help);
        sample(name, value);
    }
    void counter(const char *name, const char *help, quint64 value)
    {
        family(name, "counter", help);
        sample(name, value);
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

} // namespace

LinkMetrics::LinkMetrics(QObject *parent)
    : QObject(parent)
{
    m_uptime.start();
}

void LinkMetrics::rideAnswered(const QString &soort, bool accepted, std::chrono::nanoseconds latency)
{
    const Kind kind = soort == QLatin1String("BN") ? BN : soort == QLatin1String("BV") ? BV : OtherKind;
    ++m_answered[kind][accepted ? 0 : 1];
    const double inSeconds = std::chrono::duration<double>(latency).count();
    std::size_t bucket = 0;
    while (bucket < LatencyBuckets.size() && inSeconds > LatencyBuckets[bucket])
        ++bucket;
    ++m_latencyCounts[bucket];
    m_latencySum += latency;
    m_lastRideMs = QDateTime::currentMSecsSinceEpoch();
}

void LinkMetrics::connectionAccepted()
{
    ++m_connectionsAccepted;
}

void LinkMetrics::statusQueued()
{
    ++m_statusQueued;
}

void LinkMetrics::statusTakenBack()
{
    // Taken back in the same turn of the event loop that queued it: no reader saw it counted.
    if (m_statusQueued > 0)
        --m_statusQueued;
}

void LinkMetrics::statusSent()
{
    ++m_statusSent;
}

void LinkMetrics::statusReplyMissed()
{
    ++m_statusRepliesMissed;
}

void LinkMetrics::strayHostReply()
{
    ++m_strayHostReplies;
}

void LinkMetrics::databaseFailed(const QString &reason, bool busy)
{
    ++(busy ? m_databaseBusy : m_databaseErrors);
    m_databaseFailing = true;
    m_databaseFailure = reason;
}

void LinkMetrics::databaseRecovered()
{
    m_databaseFailing = false;
    m_databaseFailure.clear();
}

QStringList LinkMetrics::unhealthyReasons(const Now &now) const
{
    QStringList reasons;
    if (!now.listening)
        reasons << QStringLiteral("the BSA server is not listening");
    if (!now.databaseConfigured)
        reasons << QStringLiteral("no database configured (xLoginServer)");
    if (m_databaseFailing) {
        // A driver's message may span lines; the answer keeps one reason a line.
        reasons << QStringLiteral("the last database statement failed: ") + m_databaseFailure.simplified();
    }
    if (!now.unansweredSince.isNull()) {
        const QString what = now.unansweredRide != 0
            ? QStringLiteral("the status message of ride %1").arg(now.unansweredRide)
            : QStringLiteral("the outgoing queue");
        reasons << QStringLiteral("the BSA host has not answered %1 since %2; %3 line(s) wait in the outgoing queue")
                       .arg(what, now.unansweredSince.toString(Qt::ISODate))
                       .arg(now.statusWaiting);
    }
    return reasons;
}

QByteArray LinkMetrics::text(const Now &now) const
{
    Exposition out;
    out.family("korvelbsa_rides_answered_total", "counter",
        "Ride messages answered on their connection, by the message's kind (BN, BV, other) and the answer (AC, NC).");
    static const std::array<const char *, KindCount> kinds { "BN", "BV", "other" };
    for (int kind = 0; kind < KindCount; ++kind) {
        for (int answer = 0; answer < 2; ++answer) {
            out.sample(QByteArrayLiteral("korvelbsa_rides_answered_total{kind=\"") + kinds[kind]
                    + QByteArrayLiteral("\",answer=\"") + (answer == 0 ? "AC" : "NC") + "\"}",
                m_answered[kind][answer]);
        }
    }

    out.family("korvelbsa_answer_latency_seconds", "histogram",
        "Time from a ride message's arrival to its answer handed to the connection.");
    quint64 cumulative = 0;
    for (std::size_t i = 0; i < LatencyBuckets.size(); ++i) {
        cumulative += m_latencyCounts[i];
        out.sample(
            QByteArrayLiteral("korvelbsa_answer_latency_seconds_bucket{le=\"") + seconds(LatencyBuckets[i]) + "\"}",
            cumulative);
    }
    cumulative += m_latencyCounts.back();
    out.sample(QByteArrayLiteral("korvelbsa_answer_latency_seconds_bucket{le=\"+Inf\"}"), cumulative);
    out.sample(QByteArrayLiteral("korvelbsa_answer_latency_seconds_sum"),
        seconds(std::chrono::duration<double>(m_latencySum).count()));
    out.sample(QByteArrayLiteral("korvelbsa_answer_latency_seconds_count"), cumulative);

    out.gauge("korvelbsa_last_ride_timestamp_seconds",
        "Time of the last answered ride message, seconds since 1970 (UTC); 0 before the first.",
        seconds(double(m_lastRideMs) / 1000.0));
    out.gauge("korvelbsa_bsa_server_listening", "1 while the BSA server listens.", now.listening ? "1" : "0");
    out.gauge("korvelbsa_bsa_connections", "Open BSA connections.", QByteArray::number(now.connections));
    out.counter("korvelbsa_bsa_connections_accepted_total", "BSA connections accepted.", m_connectionsAccepted);
    out.counter("korvelbsa_status_messages_queued_total", "Status messages queued for the BSA host.", m_statusQueued);
    out.counter("korvelbsa_status_messages_sent_total",
        "Lines that left the outgoing queue: status messages once the BSA host answered them, other lines once "
        "handed whole to the connection.",
        m_statusSent);
    out.counter("korvelbsa_status_replies_missed_total",
        "Status messages the BSA host did not answer in time; each goes again over a new connection.",
        m_statusRepliesMissed);
    out.counter("korvelbsa_host_replies_stray_total",
        "Replies of the BSA host that answered no status message waiting for one.", m_strayHostReplies);
    out.gauge("korvelbsa_status_messages_waiting",
        "Lines waiting in the outgoing queue, the one sent but not yet answered included.",
        QByteArray::number(now.statusWaiting));
    out.counter("korvelbsa_database_errors_total",
        "Failed database connects and statements, besides waits for another program's lock.", m_databaseErrors);
    out.counter("korvelbsa_database_busy_total",
        "Database statements that found another program's lock; the link tries them again.", m_databaseBusy);
    out.gauge("korvelbsa_database_ok", "1 unless the last database connect or statement failed.",
        m_databaseFailing ? "0" : "1");
    out.gauge("korvelbsa_healthy", "1 when /health answers 200.", unhealthyReasons(now).isEmpty() ? "1" : "0");
    out.gauge(
        "korvelbsa_uptime_seconds", "Seconds since the link started.", seconds(double(m_uptime.elapsed()) / 1000.0));
    return out.text();
}

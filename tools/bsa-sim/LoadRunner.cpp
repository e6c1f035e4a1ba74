#include "LoadRunner.h"

#include <cmath>

#include <QDateTime>

#include "Answers.h"
#include "LoadConnection.h"
#include "RideMessageBuilder.h"
#include "codec/Envelope.h"

LoadRunner::LoadRunner(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        emit problem(QStringLiteral("Stopped after %1 ms with answers outstanding").arg(m_options.timeout.count()));
        finish();
    });
}

void LoadRunner::start()
{
    m_report = LoadReport();
    m_report.connections = std::max(1, m_options.connections);
    m_report.rides = std::max(0, m_options.rides);
    m_now = QDateTime::currentDateTime();
    m_clock.start();
    m_deadline.start(m_options.timeout);
    for (int i = 0; i < m_report.connections; ++i) {
        auto *connection = new LoadConnection(m_options.fragment, quint32(m_options.firstRide) + quint32(i), this);
        m_lanes.insert(connection, Lane());
        connect(connection, &LoadConnection::ready, this, &LoadRunner::sendNext);
        connect(connection, &LoadConnection::written, this,
            [this](LoadConnection *from) { m_lanes[from].writtenNs = m_clock.nsecsElapsed(); });
        connect(connection, &LoadConnection::answerReceived, this, &LoadRunner::answer);
        connect(connection, &LoadConnection::lost, this, &LoadRunner::lose);
        connection->open(m_options.host, m_options.port);
    }
    finishIfDone();
}

bool LoadRunner::isCancelled(int rideIndex) const
{
    // Spread evenly and reproducibly: ride i is cancelled when the running share passes a whole number.
    const double ratio = std::clamp(m_options.cancelRatio, 0.0, 1.0);
    return std::floor((rideIndex + 1) * ratio) > std::floor(rideIndex * ratio);
}

void LoadRunner::sendNext(LoadConnection *connection)
{
    if (m_finished)
        return;
    Lane &lane = m_lanes[connection];
    RideMessageBuilder builder(0, m_now);
    if (lane.cancelNext) {
        lane.cancelNext = false;
        lane.cancelling = true;
        builder.setKind(RideMessageBuilder::Kind::Cancellation);
    } else if (m_nextRide < m_report.rides) {
        lane.ride = m_options.firstRide + m_nextRide++;
        lane.cancelling = false;
    } else {
        connection->close(); // no work left for it
        lane.alive = false;
        finishIfDone();
        return;
    }
    builder.setRideNumber(lane.ride);
    lane.awaiting = true;
    lane.writtenNs = -1;
    if (m_firstSendNs < 0)
        m_firstSendNs = m_clock.nsecsElapsed();
    connection->send(Inpakken(builder.text(), false));
}

void LoadRunner::answer(LoadConnection *connection, const QByteArray &payload)
{
    if (m_finished)
        return;
    const qint64 now = m_clock.nsecsElapsed();
    Lane &lane = m_lanes[connection];
    if (!lane.awaiting) {
        ++m_report.wrong;
        emit problem(QStringLiteral("An answer came that no message asked for"));
        return;
    }
    lane.awaiting = false;
    ++m_answered;
    if (!lane.cancelling)
        ++m_report.ridesAnswered;
    m_lastAnswerNs = now;
    m_report.latenciesMs << (now - (lane.writtenNs >= 0 ? lane.writtenNs : now)) / 1e6;

    tAckNackBSA ack;
    QString error;
    if (!Answers::read(payload, &ack, &error)) {
        ++m_report.wrong;
        emit problem(QStringLiteral("The answer to ride %1 cannot be read: %2").arg(lane.ride).arg(error));
    } else if (ack.Soort == QLatin1String("NC")) {
        ++m_report.refused;
    } else if (ack.Soort != QLatin1String("AC") || ack.BSRitnummer != lane.ride) {
        ++m_report.wrong;
        emit problem(QStringLiteral("Ride %1 got the answer %2").arg(lane.ride).arg(Answers::describe(ack)));
    } else {
        ++m_report.acknowledged;
        if (!lane.cancelling && isCancelled(lane.ride - m_options.firstRide)) {
            lane.cancelNext = true;
            ++m_report.cancellations;
        }
    }
    sendNext(connection);
}

void LoadRunner::lose(LoadConnection *connection, const QString &reason)
{
    Lane &lane = m_lanes[connection];
    if (!lane.alive)
        return;
    lane.alive = false;
    emit problem(QStringLiteral("A connection was lost: %1").arg(reason));
    finishIfDone();
}

void LoadRunner::finishIfDone()
{
    bool anyAlive = false;
    for (const Lane &lane : std::as_const(m_lanes))
        anyAlive = anyAlive || lane.alive;
    if (!anyAlive)
        finish();
}

void LoadRunner::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    if (m_firstSendNs >= 0 && m_lastAnswerNs >= m_firstSendNs)
        m_report.seconds = (m_lastAnswerNs - m_firstSendNs) / 1e9;
    m_report.missing = m_report.messages() - m_answered;
    for (auto it = m_lanes.begin(); it != m_lanes.end(); ++it)
        it.key()->close();
    emit finished();
}

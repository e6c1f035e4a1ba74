#include "HostSender.h"

#include <algorithm>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/Tags.h"
#include "feedback/OutgoingQueue.h"
#include "platform/BSAClient.h"
#include "settings/Settings.h"

namespace {

// A status message starts with its kind "BT" and carries its BSA ride number in the fourth field, where an
// acknowledgement carries it as well.
bool statusMessageRide(const QString &line, int *ride)
{
    if (!line.startsWith(QLatin1String("4254"))) // "BT"
        return false;
    tAckNackBSA fields;
    if (!TekstNaarAckNack(HexNaarTekst(line.toLatin1()), fields, nullptr) || fields.Soort != QLatin1String("BT"))
        return false;
    *ride = fields.BSRitnummer;
    return true;
}

QString seconds(std::chrono::milliseconds time)
{
    return QString::number((time.count() + 999) / 1000);
}

} // namespace

HostSender::HostSender(BSAClient &client, OutgoingQueue &queue, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_queue(queue)
    , m_settings(settings)
{
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setInterval(ReplyTimeout);
    connect(&m_replyTimer, &QTimer::timeout, this, &HostSender::replyTimedOut);
    connect(&m_client, &BSAClient::allWritten, this, &HostSender::allWritten);
    connect(&m_client, &BSAClient::disconnected, this, &HostSender::disconnected);
    connect(&m_client, &BSAClient::errorOccurred, this, &HostSender::exceptionRaised);
    // Looking the host up is part of connecting: its failure is reported like a failed send, with the host.
    connect(&m_client, &BSAClient::lookupFailed, this,
        [this](const QString &message) { emit logLine(QStringLiteral("CO: ") + message + u' ' + m_client.host()); });
}

void HostSender::setTimesForTest(
    std::chrono::milliseconds replyTimeout, std::chrono::milliseconds firstPause, std::chrono::milliseconds longest)
{
    m_replyTimer.setInterval(replyTimeout);
    m_firstPause = firstPause;
    m_nextPause = firstPause;
    m_longestPause = longest;
}

void HostSender::sendNext()
{
    if (m_queue.isEmpty())
        return;
    if (m_pausing) {
        if (!m_pauseEnds.hasExpired())
            return;
        m_pausing = false;
    }
    const QString host = m_settings.BSAHostAdres;
    if (!m_client.isActive()) {
        connectToHost(host);
        return;
    }
    if (m_inFlight) {
        if (!m_waitReported)
            emit logLine(QStringLiteral("CO: BSA HOST NEEMT GEEN GEGEVENS AAN, PAKKET UIT WACHT ") + host);
        m_waitReported = true;
        return;
    }
    if (m_awaitingReply)
        return; // the reply timer ends the wait
    const QString line = m_queue.first();
    const QByteArray wire = Tags::Start.toByteArray() + line.toLatin1() + Tags::End.toByteArray();
    QString error;
    if (m_client.send(wire, &error) < 0) {
        emit logLine(QStringLiteral("CO: ") + error + u' ' + host);
        return;
    }
    emit logLine(QStringLiteral("CO: ") + QString::fromLatin1(wire));
    int ride = 0;
    if (statusMessageRide(line, &ride)) {
        // The clock runs from the send: a host that does not even read the message has not answered it either.
        m_awaitingReply = true;
        m_waitingRide = ride;
        m_replyTimer.start();
    }
    if (m_client.bytesToWrite() > 0) {
        m_inFlight = true;
    } else if (!m_awaitingReply) {
        if (m_dropReported)
            hostAnswersAgain();
        lineLeft();
    }
}

bool HostSender::answers(const tAckNackBSA &reply) const
{
    return m_awaitingReply && reply.BSRitnummer == m_waitingRide
        && (reply.Soort == QLatin1String("AC") || reply.Soort == QLatin1String("NC"));
}

bool HostSender::takeReply(const tAckNackBSA &reply)
{
    if (!answers(reply))
        return false;
    m_replyTimer.stop();
    m_awaitingReply = false;
    // The host answered, so it has the whole message, whatever the system still reports as on its way.
    m_inFlight = false;
    m_waitReported = false;
    hostAnswersAgain();
    lineLeft();
    return true;
}

void HostSender::lineLeft()
{
    const QString line = m_queue.first();
    m_queue.removeFirst();
    emit lineSent(line);
}

void HostSender::hostAnswersAgain()
{
    m_nextPause = m_firstPause;
    m_pausing = false;
    m_unansweredSince = QDateTime();
    if (m_noAnswerReported || m_dropReported)
        emit logLine(QStringLiteral("CO: BSA HOST NEEMT PAKKET UIT WEER AAN ") + m_settings.BSAHostAdres);
    m_noAnswerReported = false;
    m_dropReported = false;
}

void HostSender::connectToHost(const QString &host)
{
    const int port = m_settings.number<&Settings::BSAHostPoort>();
    if (port < 1 || port > 65535) {
        // Port 0 would only fail later with a less telling message.
        emit logLine(QStringLiteral("CO: '%1' is geen geldig poortnummer %2").arg(m_settings.BSAHostPoort, host));
        return;
    }
    m_client.setPort(quint16(port));
    m_client.setHost(host);
    m_client.activate();
}

void HostSender::allWritten()
{
    if (!m_inFlight)
        return;
    m_inFlight = false;
    m_waitReported = false;
    if (m_awaitingReply)
        return;
    if (m_dropReported)
        hostAnswersAgain();
    lineLeft();
}

void HostSender::replyTimedOut()
{
    if (!m_awaitingReply)
        return;
    if (!m_noAnswerReported) {
        emit logLine(QStringLiteral("CO: GEEN ANTWOORD VAN BSA HOST OP BSRITNUMMER %1 BINNEN %2 SECONDEN, VERBINDING "
                                    "GESLOTEN, BERICHT BLIJFT IN PAKKET UIT EN GAAT OPNIEUW %3")
                         .arg(m_waitingRide)
                         .arg(seconds(std::chrono::milliseconds(m_replyTimer.interval())), m_settings.BSAHostAdres));
        m_noAnswerReported = true;
    }
    emit replyMissed();
    closeMisbehavingConnection();
}

void HostSender::closeMisbehavingConnection()
{
    m_closingOurselves = true;
    m_client.close();
    m_closingOurselves = false;
    attemptFailed();
}

// The message that waits goes again over a new connection, once the pause has passed.
void HostSender::attemptFailed()
{
    m_replyTimer.stop();
    m_awaitingReply = false;
    m_inFlight = false;
    m_waitReported = false;
    if (m_unansweredSince.isNull())
        m_unansweredSince = QDateTime::currentDateTime();
    m_pauseEnds.setRemainingTime(m_nextPause);
    m_pausing = true;
    m_nextPause = std::min(m_nextPause * 2, m_longestPause);
}

void HostSender::disconnected()
{
    if (m_closingOurselves)
        return;
    const bool waited = m_awaitingReply || m_inFlight;
    // A host that drops every connection is said once, not at every attempt; a host that ends an idle connection
    // is not worth a line.
    if (!m_queue.isEmpty() && !m_dropReported) {
        // Part of the line may have reached the host; the host drops an envelope cut off by a closed connection, so
        // the whole line goes again over the next one.
        emit logLine(QStringLiteral("CO: VERBINDING MET BSA HOST VERBROKEN, BERICHT BLIJFT IN PAKKET UIT"));
        m_dropReported = true;
    }
    if (m_awaitingReply)
        attemptFailed(); // the host had the message and closed without an answer: as if it had not answered
    else if (waited) {
        m_inFlight = false;
        m_waitReported = false;
    }
}

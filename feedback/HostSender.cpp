#include "HostSender.h"

#include "codec/Tags.h"
#include "feedback/OutgoingQueue.h"
#include "platform/BSAClient.h"
#include "settings/Settings.h"

HostSender::HostSender(BSAClient &client, OutgoingQueue &queue, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_queue(queue)
    , m_settings(settings)
{
    connect(&m_client, &BSAClient::allWritten, this, &HostSender::allWritten);
    connect(&m_client, &BSAClient::disconnected, this, &HostSender::disconnected);
    connect(&m_client, &BSAClient::errorOccurred, this, &HostSender::exceptionRaised);
    // Looking the host up is part of connecting: its failure is reported like a failed send, with the host.
    connect(&m_client, &BSAClient::lookupFailed, this,
        [this](const QString &message) { emit logLine(QStringLiteral("CO: ") + message + u' ' + m_client.host()); });
}

void HostSender::sendNext()
{
    if (m_queue.isEmpty())
        return;
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
    const QByteArray wire = Tags::Start.toByteArray() + m_queue.first().toLatin1() + Tags::End.toByteArray();
    QString error;
    if (m_client.send(wire, &error) < 0) {
        emit logLine(QStringLiteral("CO: ") + error + u' ' + host);
        return;
    }
    emit logLine(QStringLiteral("CO: ") + QString::fromLatin1(wire));
    if (m_client.bytesToWrite() == 0) {
        m_queue.removeFirst();
        emit lineSent();
    } else {
        m_inFlight = true;
    }
}

void HostSender::connectToHost(const QString &host)
{
    const int port = Settings::leadingInt(m_settings.BSAHostPoort, Settings::NumberStart::SpacesThenDigits);
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
    m_queue.removeFirst();
    emit lineSent();
}

void HostSender::disconnected()
{
    if (!m_inFlight)
        return;
    // Part of the line may have reached the host; the host drops an envelope cut off by a closed connection, so
    // the whole line goes again over the next one.
    m_inFlight = false;
    m_waitReported = false;
    emit logLine(QStringLiteral("CO: VERBINDING MET BSA HOST VERBROKEN, BERICHT BLIJFT IN PAKKET UIT"));
}

#include "HostReplies.h"

#include "codec/AckNackBSA.h"
#include "codec/AnsiCodePage.h"
#include "codec/Envelope.h"
#include "codec/Tags.h"
#include "feedback/HostSender.h"
#include "platform/BSAClient.h"

HostReplies::HostReplies(BSAClient &client, HostSender &sender, QObject *parent)
    : QObject(parent)
    , m_sender(sender)
{
    connect(&client, &BSAClient::envelopeReceived, this, &HostReplies::BSAClientRead);
    connect(&client, &BSAClient::connected, this, &HostReplies::connectionStarted);
}

void HostReplies::BSAClientRead(const QByteArray &payload)
{
    tAckNackBSA reply;
    QString error;
    const bool parsed = TekstNaarAckNack(HexNaarTekst(payload), reply, &error);
    const bool answers = parsed && m_sender.answers(reply);
    if (!answers) {
        ++m_strayReplies;
        emit strayReply();
        if (m_strayReplies == UnansweringRepliesPerConnection) {
            emit logLine(QStringLiteral("CI: %1 ANTWOORDEN VAN BSA HOST ZONDER WACHTEND BERICHT, VERBINDING GESLOTEN")
                             .arg(m_strayReplies));
            m_sender.closeMisbehavingConnection();
        }
        if (m_strayReplies > 1)
            return; // said once per connection; the figures count them all
    }
    emit logLine(
        QStringLiteral("CI: ") + QLatin1String(Tags::Start) + AnsiCodePage::decode(payload) + QLatin1String(Tags::End));
    if (!parsed) {
        emit exceptionRaised(error);
    } else {
        emit logLine(QStringLiteral("CI STATUS: ") + reply.Soort);
        emit logLine(QStringLiteral("CI WAARDE: ") + reply.Waarde);
        emit logLine(QStringLiteral("CI BS RITNUMMER: ") + QString::number(reply.BSRitnummer));
    }
    if (answers)
        m_sender.takeReply(reply);
    else
        emit logLine(QStringLiteral("CI: ANTWOORD VAN BSA HOST ZONDER WACHTEND BERICHT; VERDERE OP DEZE VERBINDING "
                                    "WORDEN ALLEEN GETELD"));
}

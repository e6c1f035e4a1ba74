#include "HostReplies.h"

#include "codec/AckNackBSA.h"
#include "codec/AnsiCodePage.h"
#include "codec/Envelope.h"
#include "codec/Tags.h"

HostReplies::HostReplies(QObject *parent)
    : QObject(parent)
{ }

void HostReplies::BSAClientRead(const QByteArray &payload)
{
    emit logLine(
        QStringLiteral("CI: ") + QLatin1String(Tags::Start) + AnsiCodePage::decode(payload) + QLatin1String(Tags::End));
    tAckNackBSA reply;
    QString error;
    if (!TekstNaarAckNack(HexNaarTekst(payload), reply, &error)) {
        emit exceptionRaised(error);
        return;
    }
    emit logLine(QStringLiteral("CI STATUS: ") + reply.Soort);
    emit logLine(QStringLiteral("CI WAARDE: ") + reply.Waarde);
    emit logLine(QStringLiteral("CI BS RITNUMMER: ") + QString::number(reply.BSRitnummer));
}

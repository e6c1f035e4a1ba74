#include "IncompleteEnvelope.h"

#include <QString>

#include "codec/EnvelopeFramer.h"

namespace IncompleteEnvelope {

namespace {

static_assert(EnvelopeFramer::MaxBuffered == 1024 * 1024, "the log line names the framer's limit");

QString prefix(Side side)
{
    return side == Side::Server ? QStringLiteral("SI") : QStringLiteral("CI");
}

} // namespace

QString tooLargeLine(Side side, const QString &peer)
{
    return QStringLiteral("%1: ONVOLLEDIG BERICHT VAN %2 GROTER DAN 1 MB, VERWORPEN").arg(prefix(side), peer);
}

QString expiredLine(Side side, const QString &peer, qint64 seconds)
{
    return QStringLiteral("%1: ONVOLLEDIG BERICHT VAN %2 NA %3 SECONDEN VERWORPEN, VERBINDING GESLOTEN")
        .arg(prefix(side), peer)
        .arg(seconds);
}

} // namespace IncompleteEnvelope

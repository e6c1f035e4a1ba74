#include "Answers.h"

#include "codec/Envelope.h"

namespace Answers {

bool read(QByteArrayView payload, tAckNackBSA *answer, QString *error)
{
    return TekstNaarAckNack(HexNaarTekst(payload), *answer, error);
}

QString describe(const tAckNackBSA &answer)
{
    return QStringLiteral("%1 %2 %3 %4").arg(answer.Soort, answer.Waarde, answer.Code).arg(answer.BSRitnummer);
}

} // namespace Answers

#include "RideOutcome.h"

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"

void RideOutcome::answer(const QString &soort, int ritnummer, const QStringList &lines)
{
    answerThenLog(soort, ritnummer, QStringList { QString() } + lines);
}

void RideOutcome::answerThenLog(const QString &soort, int ritnummer, const QStringList &lines)
{
    answers = true;
    answerText = AckNackNaarTekst(MaakAntwoord(soort, ritnummer));
    // The log shows the answer enveloped, never with the CR LF that bsaCRLF may add on the wire.
    const QString coLine
        = QStringLiteral("CO: <ZORVAN>") + QString::fromLatin1(TekstNaarHex(answerText)) + QStringLiteral("<EINDE>");
    after.clear();
    for (const QString &line : lines)
        after.append({ LogEntry::Kind::Line, line.isEmpty() ? coLine : line });
}

void RideOutcome::refuseInGeneral()
{
    answer(QStringLiteral("NC"), 0, { QStringLiteral("<NACK - RIT NIET GEVONDEN>") });
}

#include "AckNackBSA.h"

#include "codec/FieldValues.h"

namespace {

constexpr qsizetype RequiredFields = 4;
constexpr qsizetype SoortCapacity = 2;
constexpr qsizetype WaardeCapacity = 3;
constexpr qsizetype CodeCapacity = 2;

} // namespace

QString AckNackNaarTekst(const tAckNackBSA &rec)
{
    QString text;
    text.reserve(24 + rec.Tekst.size());
    text += FieldValues::withoutBlanks(FieldValues::shortText(rec.Soort, SoortCapacity));
    text += u'\t';
    text += FieldValues::withoutBlanks(FieldValues::shortText(rec.Waarde, WaardeCapacity));
    text += u'\t';
    text += FieldValues::withoutBlanks(FieldValues::shortText(rec.Code, CodeCapacity));
    text += u'\t';
    text += QString::number(rec.BSRitnummer);
    text += u'\t';
    text += rec.Tekst;
    return text;
}

bool TekstNaarAckNack(const QString &text, tAckNackBSA &rec, QString *error)
{
    rec = tAckNackBSA();
    const FieldValues::Fields fields = FieldValues::splitAtTabs(text);
    const qsizetype present = fields.size();
    if (present > 0)
        rec.Soort = FieldValues::shortText(fields[0], SoortCapacity);
    if (present > 1)
        rec.Waarde = FieldValues::shortText(fields[1], WaardeCapacity);
    if (present > 2)
        rec.Code = FieldValues::shortText(fields[2], CodeCapacity);
    if (present < RequiredFields) {
        if (error)
            *error = QStringLiteral("List index out of bounds (%1)").arg(present);
        return false;
    }
    rec.BSRitnummer = FieldValues::readInteger(fields[3], FieldValues::HexPrefixes::DollarOrZeroX);
    return true;
}

tAckNackBSA MaakAntwoord(const QString &soort, int ritnummer)
{
    tAckNackBSA answer;
    answer.Soort = soort;
    answer.Waarde = QStringLiteral("BSA");
    answer.Code = QStringLiteral("6");
    answer.BSRitnummer = ritnummer;
    return answer;
}

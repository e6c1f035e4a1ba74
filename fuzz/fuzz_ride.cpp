// Random text through the record parsers and both field cutters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/RitBSA.h"
#include "codec/AnsiCodePage.h"

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void parse(const QString &text)
{
    const QStringList fields = SplitsVelden(text);
    check(fields.join(u'\t') == text); // cutting at TABs loses nothing

    tRitBSA rit;
    QString error;
    check(TekstNaarRit(text, rit, &error) == (fields.size() >= 59));
    check(rit.Soort.size() <= 2 && rit.NaamReiziger.size() <= 50 && rit.RitTekst.size() <= 254);
    check(rit.Reservetekst.isEmpty());

    tAckNackBSA rec;
    if (TekstNaarAckNack(text, rec, &error)) {
        tAckNackBSA again;
        check(TekstNaarAckNack(AckNackNaarTekst(rec), again, &error));
        check(again.BSRitnummer == rec.BSRitnummer);
    }

    WeergaveTekst(text);
    check(WeergaveVelden(text).join(u'\t') == markLineBreaks(text)); // the display shows every stored field

    const QString restricted = AnsiCodePage::restrict(text);
    check(AnsiCodePage::restrict(restricted) == restricted);
    check(AnsiCodePage::encode(restricted) == AnsiCodePage::encode(text));
    check(HexNaarTekst(TekstNaarHex(text)) == restricted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    parse(QString::fromUtf8(bytes)); // text as a peer could type it
    parse(AnsiCodePage::decode(bytes)); // text as it comes off the wire
    return 0;
}

// Random socket reads through the framer of one connection, and every payload through the ride decoding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include <QByteArray>
#include <QString>

#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "codec/RitBSA.h"

namespace {

// Each read starts with a header byte: its low seven bits are the read's length. The header 0xFF instead
// repeats the previous read into a flood of a quarter of the framer's limit, so that a short input can still
// push the framer past it.
constexpr uint8_t FloodHeader = 0xFF;
constexpr qsizetype FloodSize = EnvelopeFramer::MaxBuffered / 4;
constexpr int MaxFloods = 5; // enough to pass the limit once
// Floods would otherwise spend the run decoding copies and megabytes; every decoding path is reached well within.
constexpr int MaxDecoded = 64;
constexpr qsizetype MaxDecodedSize = 64 * 1024;

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void decode(const QByteArray &payload)
{
    // The framer hands out what lies between the tags, never a tag itself.
    check(!payload.contains("<ZORVAN>") && !payload.contains("<EINDE>"));
    const QString text = HexNaarTekst(payload);
    check(Uitpakken("<ZORVAN>" + payload + "<EINDE>\r\n") == text);
    check(Uitpakken(Inpakken(text, false)) == text);
    tRitBSA rit;
    QString error;
    TekstNaarRit(markLineBreaks(text), rit, &error);
    WeergaveTekst(text);
    WeergaveVelden(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    EnvelopeFramer framer;
    QByteArray previous = "x";
    int floods = 0;
    int decoded = 0;
    size_t at = 0;
    while (at < size) {
        const uint8_t header = data[at++];
        QByteArray read;
        if (header == FloodHeader) {
            if (++floods > MaxFloods)
                continue;
            read = previous.repeated(FloodSize / previous.size() + 1);
        } else {
            const size_t length = std::min<size_t>(header & 0x7F, size - at);
            read = QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(length));
            at += length;
            if (!read.isEmpty())
                previous = read;
        }
        framer.append(read);
        while (std::optional<QByteArray> payload = framer.takeEnvelope()) {
            if (++decoded <= MaxDecoded && payload->size() <= MaxDecodedSize)
                decode(*payload);
        }
        if (framer.bufferedSize() > EnvelopeFramer::MaxBuffered)
            framer.clear(); // as the connection does with a peer that never ends its envelope
        check(framer.bufferedSize() <= EnvelopeFramer::MaxBuffered);
    }
    return 0;
}

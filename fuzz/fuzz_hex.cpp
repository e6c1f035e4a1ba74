// Random payloads through the hexadecimal decoder and the check that refuses a damaged one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QString>

#include "codec/Envelope.h"

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto payload = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype damaged = firstNonHexDigit(payload);
    for (qsizetype i = 0; i < (damaged < 0 ? payload.size() : damaged); ++i)
        check(isHexDigit(payload[i]));
    check(damaged < 0 || !isHexDigit(payload[damaged]));

    const QString text = HexNaarTekst(payload);
    check(text.size() == payload.size() / 2); // one character per pair, an odd last digit ignored
    if (damaged < 0) {
        // A sound payload decodes to a text that encodes to the same digits, upper case.
        const QByteArray even = payload.left(payload.size() / 2 * 2);
        check(TekstNaarHex(text) == even.toUpper());
        check(Uitpakken("<ZORVAN>" + even + "<EINDE>") == text);
        for (qsizetype i = 0; i + 1 < even.size(); i += 2)
            check(HexWaarde(even.mid(i, 2)) == uint(even.mid(i, 2).toUInt(nullptr, 16)));
    }
    if (payload.size() <= 8 && damaged < 0 && !payload.isEmpty())
        check(HexWaarde(payload) == uint(payload.toULongLong(nullptr, 16)));
    return 0;
}

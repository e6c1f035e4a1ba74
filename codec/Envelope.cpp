#include "Envelope.h"

#include <utility>

#include <QVarLengthArray>

#include "codec/FieldValues.h"
#include "codec/Tags.h"
#include "codec/AnsiCodePage.h"

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr char16_t Escape = 0x1B;
constexpr QStringView LineBreakSequence = u"\x1B"
                                          u"LF";
constexpr QStringView LineBreakMarker = u"#CRLF#";

// The value of a hexadecimal digit of either case; any other byte counts 0. Plain arithmetic rather than a
// table, so that the compiler can decode many digits at once.
inline quint8 digit(char c)
{
    const quint8 decimal = quint8(c - '0');
    const quint8 letter = quint8((c | 0x20) - 'a');
    return decimal < 10 ? decimal : (letter < 6 ? quint8(letter + 10) : 0);
}

} // namespace

QByteArray TekstNaarHex(QStringView text)
{
    const QByteArray bytes = AnsiCodePage::encode(text);
    QByteArray hex(bytes.size() * 2, Qt::Uninitialized);
    char *out = hex.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = HexDigits[b >> 4];
        *out++ = HexDigits[b & 0x0F];
    }
    return hex;
}

QString HexNaarTekst(QByteArrayView hex)
{
    const qsizetype count = hex.size() / 2;
    QVarLengthArray<char, 1024> bytes(count);
    const char *in = hex.data();
    char *out = bytes.data();
    for (qsizetype i = 0; i < count; ++i)
        out[i] = char(digit(in[2 * i]) << 4 | digit(in[2 * i + 1]));
    return AnsiCodePage::decode(QByteArrayView(out, count));
}

quint32 HexWaarde(QByteArrayView digits)
{
    quint32 value = 0; // wraps for more than eight digits, which no message holds
    for (const char c : digits)
        value = value * 16 + digit(c);
    return value;
}

qsizetype firstNonHexDigit(QByteArrayView hex)
{
    // Nearly every message is all digits: checked a block at a time without a branch per byte, and byte by byte
    // only from the block that holds something else.
    constexpr qsizetype Block = 32;
    qsizetype from = 0;
    for (; from + Block <= hex.size(); from += Block) {
        unsigned other = 0;
        for (qsizetype i = 0; i < Block; ++i) {
            const unsigned char c = static_cast<unsigned char>(hex[from + i]);
            const unsigned char lower = c | 0x20;
            other |= unsigned(unsigned(c - '0') > 9) & unsigned(unsigned(lower - 'a') > 5);
        }
        if (other)
            break;
    }
    for (qsizetype i = from; i < hex.size(); ++i) {
        const char c = hex[i];
        const bool isDigit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!isDigit)
            return i;
    }
    return -1;
}

QString Uitpakken(QByteArrayView wire)
{
    // Cut by the tags, not by position: a CR LF after the end tag or noise before the start tag must not
    // shift the payload and spoil every field.
    const qsizetype start = Tags::find(wire, Tags::Start);
    if (start < 0)
        return QString();
    const qsizetype payloadStart = start + Tags::Start.size();
    const qsizetype end = Tags::find(wire, Tags::End, payloadStart);
    if (end < 0)
        return QString();
    return HexNaarTekst(wire.sliced(payloadStart, end - payloadStart));
}

QByteArray Inpakken(QStringView text, bool crlf)
{
    const QByteArray hex = TekstNaarHex(text);
    QByteArray wire;
    wire.reserve(Tags::Start.size() + hex.size() + Tags::End.size() + 2);
    wire.append(Tags::Start).append(hex).append(Tags::End);
    if (crlf)
        wire.append("\r\n");
    return wire;
}

QStringList SplitsVelden(QStringView text)
{
    const FieldValues::Fields views = FieldValues::splitAtTabs(text);
    QStringList fields;
    fields.reserve(views.size());
    for (const QStringView view : views)
        fields.append(view.toString());
    return fields;
}

QString markLineBreaks(QStringView text)
{
    qsizetype escape = text.indexOf(QChar(Escape));
    if (escape < 0)
        return text.toString(); // most rides carry no line break
    QString marked;
    marked.reserve(text.size() + 16);
    qsizetype from = 0;
    while (escape >= 0) {
        if (text.sliced(escape).startsWith(LineBreakSequence)) {
            marked.append(text.sliced(from, escape - from)).append(LineBreakMarker);
            from = escape + LineBreakSequence.size();
            escape = text.indexOf(QChar(Escape), from);
        } else {
            escape = text.indexOf(QChar(Escape), escape + 1);
        }
    }
    marked.append(text.sliced(from));
    return marked;
}

QString markLineBreaks(QString &&text)
{
    if (!text.contains(QChar(Escape)))
        return std::move(text);
    return markLineBreaks(QStringView(text));
}

QString WeergaveTekst(QStringView text)
{
    QString shown = markLineBreaks(text);
    shown.replace(u'\t', u',');
    return shown;
}

QStringList WeergaveVelden(QStringView text)
{
    return SplitsVelden(markLineBreaks(text));
}

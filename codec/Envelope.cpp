#include "Envelope.h"

#include <array>

#include <QVarLengthArray>

#include "codec/FieldValues.h"
#include "platform/AnsiCodePage.h"

namespace {

constexpr QByteArrayView StartTag = "<ZORVAN>";
constexpr QByteArrayView EndTag = "<EINDE>";
constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr QLatin1StringView LineBreakSequence("\x1B" "LF");
constexpr QLatin1StringView LineBreakMarker("#CRLF#");

// The value of every byte as a hexadecimal digit; a byte that is no digit counts 0.
constexpr std::array<quint8, 256> makeDigitTable()
{
    std::array<quint8, 256> table {};
    for (int c = '0'; c <= '9'; ++c)
        table[c] = quint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        table[c] = quint8(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        table[c] = quint8(c - 'a' + 10);
    return table;
}

constexpr std::array<quint8, 256> DigitTable = makeDigitTable();

inline quint8 digit(char c)
{
    return DigitTable[static_cast<unsigned char>(c)];
}

inline bool separatesShownValues(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

}

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
    QVarLengthArray<char, 1024> bytes(hex.size() / 2);
    const char *in = hex.data();
    for (char &byte : bytes) {
        byte = char(digit(in[0]) << 4 | digit(in[1]));
        in += 2;
    }
    return AnsiCodePage::decode(QByteArrayView(bytes.constData(), bytes.size()));
}

quint32 HexWaarde(QByteArrayView digits)
{
    quint32 value = 0;   // wraps for more than eight digits, which no message holds
    for (const char c : digits)
        value = value * 16 + digit(c);
    return value;
}

bool BerichtCompleet(QByteArrayView received)
{
    return received.indexOf(StartTag) >= 0 && received.indexOf(EndTag) >= 0;
}

QString Uitpakken(QByteArrayView wire)
{
    // Cut by the tags, not by position: a CR LF after the end tag or noise before the start tag must not
    // shift the payload and spoil every field.
    const qsizetype start = wire.indexOf(StartTag);
    if (start < 0)
        return QString();
    const qsizetype payloadStart = start + StartTag.size();
    const qsizetype end = wire.indexOf(EndTag, payloadStart);
    if (end < 0)
        return QString();
    return HexNaarTekst(wire.sliced(payloadStart, end - payloadStart));
}

QByteArray Inpakken(QStringView text, bool crlf)
{
    const QByteArray hex = TekstNaarHex(text);
    QByteArray wire;
    wire.reserve(StartTag.size() + hex.size() + EndTag.size() + 2);
    wire.append(StartTag).append(hex).append(EndTag);
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

QString MarkeerRegeleinden(QStringView text)
{
    QString marked = text.toString();
    if (text.contains(LineBreakSequence))
        marked.replace(LineBreakSequence, LineBreakMarker);
    return marked;
}

QString WeergaveTekst(QStringView text)
{
    QString shown = MarkeerRegeleinden(text);
    shown.replace(u'\t', u',');
    return shown;
}

QStringList WeergaveVelden(QStringView shownText)
{
    // This is how the display list has always been cut; it only shows, nothing parses it.
    const qsizetype nul = shownText.indexOf(QChar(0));
    const QStringView text = nul < 0 ? shownText : shownText.left(nul);
    const qsizetype n = text.size();
    QStringList fields;
    qsizetype i = 0;
    const auto skipSeparators = [&] {
        while (i < n && separatesShownValues(text[i]))
            ++i;
    };
    skipSeparators();
    while (i < n) {
        if (text[i] == u'"') {
            QString value;
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        value.append(u'"');   // a doubled quote stands for one
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value.append(text[i]);
                ++i;
            }
            fields.append(value);
        } else {
            const qsizetype from = i;
            while (i < n && text[i].unicode() > 32 && text[i] != u',')
                ++i;
            fields.append(text.sliced(from, i - from).toString());
        }
        skipSeparators();
        if (i < n && text[i] == u',') {
            if (i == n - 1)
                fields.append(QString());
            ++i;
            skipSeparators();
        }
    }
    return fields;
}

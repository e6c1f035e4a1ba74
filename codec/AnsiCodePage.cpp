#include "AnsiCodePage.h"

#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>

#include <QStringDecoder>
#endif

namespace AnsiCodePage {

// Four units at a time.
bool isAscii(QStringView text)
{
    const char16_t *units = text.utf16();
    const qsizetype size = text.size();
    constexpr quint64 AboveAscii = 0xFF80FF80FF80FF80ULL;
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        quint64 word;
        std::memcpy(&word, units + i, sizeof word);
        if (word & AboveAscii)
            return false;
    }
    for (; i < size; ++i) {
        if (units[i] >= 0x80)
            return false;
    }
    return true;
}

} // namespace AnsiCodePage

#ifdef Q_OS_WIN

namespace AnsiCodePage {

// The ANSI code page of Windows (GetACP()). Without best fit: a character the code page lacks becomes '?', never a
// look-alike ("\u0141" is no "L"); and one character outside the BMP is one '?', not one for each of its two units.
QByteArray encode(QStringView text)
{
    if (isAscii(text))
        return text.toLatin1();
    QString units;
    units.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate()) {
            units += c;
            continue;
        }
        units += QLatin1Char('?');
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    const auto *wide = reinterpret_cast<const wchar_t *>(units.utf16());
    const int size = int(units.size());
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, "?", nullptr);
    QByteArray bytes(length, Qt::Uninitialized);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, bytes.data(), length, "?", nullptr);
    return bytes;
}

QString decode(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

QString restrict(QStringView text)
{
    return decode(encode(text));
}

QString restrict(const QString &text)
{
    if (isAscii(text))
        return text;
    return restrict(QStringView(text));
}

} // namespace AnsiCodePage

#else

namespace {

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves undefined map to the C1 control of the same
// number, so that every byte survives a round trip.
constexpr char16_t HighTable[32] = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

constexpr char Unmapped = '?';

// Whether any byte lies in 0x80 to 0x9F (bit pattern 100xxxxx), eight bytes at a time.
bool holdsHighTableBytes(const unsigned char *bytes, qsizetype size)
{
    constexpr quint64 HighBits = 0x8080808080808080ULL;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, bytes + i, sizeof word);
        // Shifting moves bits 6 and 5 of each byte under its bit 7; what crosses into the next byte lands
        // below bit 7 and is masked away.
        if (word & ~(word << 1) & ~(word << 2) & HighBits)
            return true;
    }
    for (; i < size; ++i) {
        if ((bytes[i] & 0xE0) == 0x80)
            return true;
    }
    return false;
}

inline bool isIdentity(char16_t c)
{
    return c < 0x80 || (c >= 0xA0 && c <= 0xFF);
}

// The byte for a character outside the identity ranges, or Unmapped.
inline char encodeSpecial(char16_t c)
{
    for (int i = 0; i < 32; ++i) {
        if (HighTable[i] == c)
            return char(0x80 + i);
    }
    return Unmapped;
}

inline bool isSurrogatePair(QStringView text, qsizetype i)
{
    return QChar::isHighSurrogate(text[i].unicode()) && i + 1 < text.size()
        && QChar::isLowSurrogate(text[i + 1].unicode());
}

} // namespace

namespace AnsiCodePage {

QByteArray encode(QStringView text)
{
    if (isAscii(text))
        return text.toLatin1(); // the usual text, both steps many characters at a time
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (isIdentity(c)) {
            *out++ = char(c);
        } else {
            *out++ = encodeSpecial(c);
            if (isSurrogatePair(text, i))
                ++i; // one character outside the BMP is one '?', not two
        }
    }
    bytes.truncate(out - bytes.constData());
    return bytes;
}

QString decode(QByteArrayView bytes)
{
    // Latin-1 is right for every byte but 0x80 to 0x9F, which most messages never hold: widen all at Qt's
    // speed, then mend those few.
    QString text = QString::fromLatin1(bytes.data(), bytes.size());
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    if (holdsHighTableBytes(in, bytes.size())) {
        QChar *out = text.data();
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if ((in[i] & 0xE0) == 0x80)
                out[i] = QChar(HighTable[in[i] - 0x80]);
        }
    }
    return text;
}

QString restrict(const QString &text)
{
    if (isAscii(text))
        return text;
    return restrict(QStringView(text));
}

QString restrict(QStringView text)
{
    if (isAscii(text))
        return text.toString();
    qsizetype i = 0;
    while (i < text.size() && isIdentity(text[i].unicode()))
        ++i;
    if (i == text.size())
        return text.toString(); // the usual case: nothing to map
    QString result(text.size(), Qt::Uninitialized);
    QChar *out = result.data();
    std::copy(text.begin(), text.begin() + i, out);
    out += i;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (isIdentity(c)) {
            *out++ = QChar(c);
            continue;
        }
        const char byte = encodeSpecial(c);
        if (byte == Unmapped) {
            *out++ = QLatin1Char(Unmapped);
            if (isSurrogatePair(text, i))
                ++i;
        } else {
            *out++ = QChar(c);
        }
    }
    result.truncate(out - result.constData());
    return result;
}

} // namespace AnsiCodePage

#endif

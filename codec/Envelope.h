#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

// The envelope "<ZORVAN>" hex "<EINDE>" around every BSA message, the hexadecimal form of the message text,
// and the cutting of a message text into its TAB-separated fields.

// The text's bytes in the ANSI code page, two upper-case hexadecimal digits each.
QByteArray TekstNaarHex(QStringView text);
// Pairs the digits into bytes and reads those in the ANSI code page; an odd last digit is ignored.
QString HexNaarTekst(QByteArrayView hex);
// The value of a string of hexadecimal digits, either case; any other character counts 0.
quint32 HexWaarde(QByteArrayView digits);
// The position of the first character that is not a hexadecimal digit ("0" to "9", "A" to "F", "a" to "f"); -1 when
// every character is one. A damaged message must be refused rather than decoded with that digit as 0.
qsizetype firstNonHexDigit(QByteArrayView hex);

// The message text between the first "<ZORVAN>" and the first "<EINDE>" after it; empty without both.
QString Uitpakken(QByteArrayView wire);
// The bytes to send: "<ZORVAN>", the hexadecimal form, "<EINDE>", and CR LF when asked.
QByteArray Inpakken(QStringView text, bool crlf);

// The fields of a message text, cut at every TAB; each value stays exactly as it came. The empty text has none.
QStringList SplitsVelden(QStringView text);

// BSA writes a line break inside a value as ESC "L" "F"; the planning side stores it as "#CRLF#".
QString markLineBreaks(QStringView text);
// The same for a text that is not needed afterwards: one without a line break is handed back without a copy.
QString markLineBreaks(QString &&text);

// The message text as the operator sees it in the log: TABs as commas, line breaks as "#CRLF#".
QString WeergaveTekst(QStringView text);
// The lines of the "Pakket IN" tab: the fields of the message text as the link stores them, one per line. Cut at
// TABs only, so a value with spaces, commas or quotes stays one line as it came; line breaks show as "#CRLF#".
QStringList WeergaveVelden(QStringView text);

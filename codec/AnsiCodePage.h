#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The 8-bit code page of the wire, the planning database's text columns and the archived logs.
// On Windows it is the system's ANSI code page; elsewhere Windows-1252, the code page of the Dutch installs.
namespace AnsiCodePage {

// Whether every UTF-16 unit of the text is below 0x80: the usual text, which is the same in every 8-bit code page
// and converts to and from Latin-1 as it is.
bool isAscii(QStringView text);

// One byte per character; a character the code page lacks becomes '?'.
QByteArray encode(QStringView text);
// Every byte gives one character, so decode(encode(x)) loses nothing the code page can hold.
QString decode(QByteArrayView bytes);
// The text as the code page can hold it: decode(encode(text)), without building the bytes.
QString restrict(QStringView text);
// The same; a text the code page holds as it is comes back without a copy.
QString restrict(const QString &text);

} // namespace AnsiCodePage

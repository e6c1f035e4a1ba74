#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

// How the BSA records read one message field into a record field.
namespace FieldValues {

// Room for a whole ride message without touching the heap.
using Fields = QVarLengthArray<QStringView, 80>;

// The fields of a message text as views into it, cut at every TAB; the empty text has none.
Fields splitAtTabs(QStringView text);

enum class HexPrefixes {
    DollarOrX, // "$1F", "x1F", "0x1F" (ride messages)
    DollarOrZeroX, // "$1F", "0x1F" (acknowledgements)
};

// The field as a signed 32-bit integer: optional leading spaces, an optional sign, then decimal digits or
// hexadecimal digits after a prefix. Anything else, an empty field, trailing characters or a value out of range
// gives 0: BSA's numbers are never worth refusing a ride over.
int readInteger(QStringView field, HexPrefixes prefixes = HexPrefixes::DollarOrX);

// The field as a short text: limited to the ANSI code page and cut to its capacity, without trimming.
QString shortText(QStringView field, qsizetype capacity);

// The text without blanks at either end: spaces and every control character (the codes 0 to 32).
QStringView withoutBlanks(QStringView text);

// The field as a long text: limited to the ANSI code page, whole.
QString longText(QStringView field);

} // namespace FieldValues

#pragma once

#include <QDateTime>
#include <QString>

#include "platform/ColumnValues.h"

struct tRitBSA;
struct Settings;

// How a BSA ride becomes a row of the planning table.

enum class RideChange { New, Changed };

// The columns to write, in the order the planning side has always received them, and the one log line that
// filling a row may give.
struct Planningrij
{
    ColumnValues columns;
    QString aanLogregel; // "AAN: " and the message text of field 68, or empty when the ride has none
};

// A new ride gets the temporary key `tempKey` and the company, client and tariff from the settings; a changed
// ride keeps those columns as they are, so `tempKey` is then ignored.
Planningrij VulPlanningrij(const tRitBSA &rit, RideChange wijziging, const Settings &settings, const QString &tempKey);

// "yyyyMMddHHmm" as local time; anything that is not a real date and time gives the zero date-time.
QDateTime TekstNaarDatumTijd(const QString &text);
QDateTime zeroDateTime(); // 30 December 1899 00:00, stored for a ride date that cannot be read

// True when the text, without the blanks (codes 0 to 32) around it, is exactly "J".
bool IsJa(const QString &text);

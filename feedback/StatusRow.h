#pragma once

#include <optional>

#include <QString>
#include <QVariant>

// How the columns of a planning row read into the fields of a status message. Each reader gives nothing, with the
// reason in *error, when the database's value cannot be what its column should hold.
namespace StatusRow {

// An integer column: NULL reads as 0; a fraction or a number beyond 32 bits is an error.
std::optional<int> integer(const QVariant &value, const QString &column, QString *error);

// A date-time column as YYYYMMDDHHNN, the wall-clock time as stored: NULL (or an empty text) reads as the zero
// date-time 189912300000.
std::optional<QString> dateTime(const QVariant &value, const QString &column, QString *error);

// An amount with two decimals in cents, rounded to the nearest cent with halves away from zero: NULL reads as 0.
std::optional<int> cents(const QVariant &value, const QString &column, QString *error);

// A text column: NULL reads as the empty text.
QString text(const QVariant &value);

} // namespace StatusRow

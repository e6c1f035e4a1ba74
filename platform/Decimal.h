#pragma once

#include <QMetaType>
#include <QString>

// An exact fixed-point number, such as an amount in cents written as euros: Decimal{12345, 2} is 123.45.
// The database receives its decimal text, never a binary fraction.
struct Decimal
{
    qint64 units = 0; // the value times 10^scale
    int scale = 0; // digits after the decimal point

    QString toString() const
    {
        // Built digit by digit: amounts are bound for every ride, and QString::arg is slow for this.
        QString text = QString::number(units < 0 ? -units : units);
        if (scale > 0) {
            if (text.size() <= scale)
                text.prepend(QString(scale - text.size() + 1, QLatin1Char('0')));
            text.insert(text.size() - scale, QLatin1Char('.'));
        }
        if (units < 0)
            text.prepend(QLatin1Char('-'));
        return text;
    }
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.toString() == b.toString(); }
};
Q_DECLARE_METATYPE(Decimal)

#pragma once

#include <QMetaType>
#include <QString>

// An exact fixed-point number, such as an amount in cents written as euros: Decimal{12345, 2} is 123.45.
// The database receives its decimal text, never a binary fraction.
struct Decimal
{
    qint64 units = 0;   // the value times 10^scale
    int scale = 0;      // digits after the decimal point

    QString toString() const
    {
        if (scale <= 0)
            return QString::number(units);
        qint64 divisor = 1;
        for (int i = 0; i < scale; ++i)
            divisor *= 10;
        const qint64 whole = units / divisor;
        const qint64 fraction = units < 0 ? -(units % divisor) : units % divisor;
        const QString sign = units < 0 && whole == 0 ? QStringLiteral("-") : QString();
        return sign + QString::number(whole) + QLatin1Char('.')
            + QStringLiteral("%1").arg(fraction, scale, 10, QLatin1Char('0'));
    }
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.toString() == b.toString(); }
};
Q_DECLARE_METATYPE(Decimal)

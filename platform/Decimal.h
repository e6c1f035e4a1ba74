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
        // Written digit by digit from the end: amounts are bound for every ride, and QString::arg is slow for this.
        if (scale > 40)
            return longScale();
        char16_t text[48]; // 20 digits, the point, the zeros a scale may add in front, the sign
        const int digitsAfterPoint = scale;
        qsizetype at = sizeof text / sizeof *text;
        quint64 magnitude = units < 0 ? 0 - quint64(units) : quint64(units);
        int written = 0;
        do {
            text[--at] = char16_t(u'0' + magnitude % 10);
            magnitude /= 10;
            if (++written == digitsAfterPoint)
                text[--at] = u'.';
        } while (magnitude != 0 || written <= digitsAfterPoint);
        if (units < 0)
            text[--at] = u'-';
        return QString(reinterpret_cast<const QChar *>(text + at), qsizetype(sizeof text / sizeof *text) - at);
    }
    QString longScale() const
    {
        QString text = QString::number(units < 0 ? 0 - quint64(units) : quint64(units));
        text.prepend(QString(scale - text.size() + 1, QLatin1Char('0')));
        text.insert(text.size() - scale, QLatin1Char('.'));
        if (units < 0)
            text.prepend(QLatin1Char('-'));
        return text;
    }
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.toString() == b.toString(); }
};
Q_DECLARE_METATYPE(Decimal)

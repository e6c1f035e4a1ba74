#include "StatusRow.h"

#include <cmath>
#include <limits>

#include <QDateTime>
#include <QLocale>

#include "feedback/StatusBSA.h"

namespace {

constexpr qint64 IntMax = std::numeric_limits<int>::max();
constexpr qint64 IntMin = std::numeric_limits<int>::min();

std::nullopt_t fail(QString *error, const QString &column, const QVariant &value, const char *what)
{
    if (error)
        *error = QStringLiteral("Kolom %1: '%2' is %3").arg(column, value.toString(), QLatin1String(what));
    return std::nullopt;
}

bool isFloatingPoint(const QVariant &value)
{
    const int type = value.metaType().id();
    return type == QMetaType::Double || type == QMetaType::Float;
}

// "-12.345" as a whole number of cents, the third decimal deciding the rounding; nothing when the text is not a
// plain decimal number or the cents do not fit in 32 bits.
std::optional<int> centsOfDecimalText(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 whole = 0;
    int digits = 0;
    for (; i < n && text[i].isDigit() && text[i].unicode() < 128; ++i, ++digits) {
        whole = whole * 10 + (text[i].unicode() - '0');
        if (whole > IntMax)
            return std::nullopt;
    }
    int decimals[3] = { 0, 0, 0 };
    if (i < n && text[i] == u'.') {
        ++i;
        for (int place = 0; i < n && text[i].isDigit() && text[i].unicode() < 128; ++i, ++place, ++digits) {
            if (place < 3)
                decimals[place] = text[i].unicode() - '0';
        }
    }
    if (digits == 0 || i != n)
        return std::nullopt;
    qint64 cents = whole * 100 + decimals[0] * 10 + decimals[1] + (decimals[2] >= 5 ? 1 : 0);
    if (negative)
        cents = -cents;
    if (cents > IntMax || cents < IntMin)
        return std::nullopt;
    return int(cents);
}

} // namespace

namespace StatusRow {

std::optional<int> integer(const QVariant &value, const QString &column, QString *error)
{
    if (value.isNull())
        return 0;
    qint64 number = 0;
    bool ok = false;
    if (isFloatingPoint(value)) {
        const double d = value.toDouble();
        ok = std::isfinite(d) && d == std::trunc(d) && d >= double(IntMin) && d <= double(IntMax);
        number = ok ? qint64(d) : 0;
    } else {
        number = value.toString().trimmed().toLongLong(&ok);
    }
    if (!ok || number > IntMax || number < IntMin)
        return fail(error, column, value, "geen geheel getal");
    return int(number);
}

std::optional<QString> dateTime(const QVariant &value, const QString &column, QString *error)
{
    if (value.isNull())
        return ZeroDateTimeText;
    QDateTime moment;
    const int type = value.metaType().id();
    if (type == QMetaType::QDateTime) {
        moment = value.toDateTime();
    } else if (type == QMetaType::QDate) {
        moment = QDateTime(value.toDate(), QTime(0, 0));
    } else {
        // Databases that keep date-times as text (SQLite) hold "2011-01-09 14:05:00", perhaps with a "T" or with
        // fractions of a second.
        QString text = value.toString().trimmed();
        if (text.isEmpty())
            return ZeroDateTimeText;
        if (text.size() > 10 && text.at(10) == u' ')
            text[10] = u'T';
        moment = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!moment.isValid() && text.size() == 10)
            moment = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
    }
    if (!moment.isValid() || moment.date().year() < 1 || moment.date().year() > 9999)
        return fail(error, column, value, "geen datum en tijd");
    return DatumTijdTekst(moment);
}

std::optional<int> cents(const QVariant &value, const QString &column, QString *error)
{
    if (value.isNull())
        return 0;
    std::optional<int> result;
    if (isFloatingPoint(value)) {
        // A binary fraction such as 0.285 is 0.28499999...: six decimals give back the amount that was meant.
        const double d = value.toDouble();
        if (std::isfinite(d))
            result = centsOfDecimalText(QString::number(d, 'f', 6));
    } else {
        const QString text = value.toString().trimmed();
        result = centsOfDecimalText(text);
        if (!result) {
            // "1.5e2", as some drivers write a floating-point amount.
            bool ok = false;
            const double d = QLocale::c().toDouble(text, &ok);
            if (ok && std::isfinite(d))
                result = centsOfDecimalText(QString::number(d, 'f', 6));
        }
    }
    if (!result)
        return fail(error, column, value, "geen bedrag dat in centen past");
    return result;
}

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

} // namespace StatusRow

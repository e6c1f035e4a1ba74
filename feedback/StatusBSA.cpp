#include "StatusBSA.h"

#include "codec/FieldValues.h"

namespace {

const QString ZeroTimeOfDay = QStringLiteral("0000");
const QString ZeroAmount = QStringLiteral("0.0");
const QString Zero = QStringLiteral("0");

void appendShortText(QString &text, const QString &value, qsizetype capacity)
{
    text += FieldValues::withoutBlanks(FieldValues::shortText(value, capacity));
    text += u'\t';
}

void appendInteger(QString &text, int value)
{
    text += QString::number(value);
    text += u'\t';
}

} // namespace

tStatusBSA StatusStandaard()
{
    tStatusBSA status;
    status.Soort = QStringLiteral("BT");
    status.Waarde = QStringLiteral("BSA");
    status.Code = QStringLiteral("6");
    status.TijdToewijzen = ZeroDateTimeText;
    status.Veld9 = QStringLiteral("O");
    status.Veld10 = ZeroDateTimeText;
    status.Veld11 = ZeroAmount;
    status.Veld12 = ZeroAmount;
    status.Veld13 = ZeroDateTimeText;
    status.TijdBestemmen = ZeroDateTimeText;
    status.Veld15 = Zero;
    status.Veld16 = ZeroAmount;
    status.Veld17 = ZeroAmount;
    status.Veld18 = Zero;
    status.Veld19 = ZeroTimeOfDay;
    status.TijdVrijmelden = ZeroDateTimeText;
    status.Veld21 = Zero;
    status.Veld22 = ZeroAmount;
    status.Veld23 = ZeroAmount;
    status.Veld24 = ZeroDateTimeText;
    status.LVlagTekst = QStringLiteral("F");
    status.Veld27 = ZeroAmount;
    status.Veld28 = ZeroAmount;
    return status;
}

QString StatusNaarTekst(const tStatusBSA &s)
{
    QString text;
    text.reserve(200);
    appendShortText(text, s.Soort, 2);
    appendShortText(text, s.Waarde, 3);
    appendShortText(text, s.Code, 2);
    appendInteger(text, s.BSRitnummer);
    appendShortText(text, s.TijdToewijzen, 20);
    appendShortText(text, s.Veld6, 50);
    appendInteger(text, s.Wagen);
    appendShortText(text, s.Veld8, 10);
    appendShortText(text, s.Veld9, 1);
    appendShortText(text, s.Veld10, 20);
    appendShortText(text, s.Veld11, 20);
    appendShortText(text, s.Veld12, 20);
    appendShortText(text, s.Veld13, 20);
    appendShortText(text, s.TijdBestemmen, 20);
    appendShortText(text, s.Veld15, 20);
    appendShortText(text, s.Veld16, 20);
    appendShortText(text, s.Veld17, 20);
    appendShortText(text, s.Veld18, 30);
    appendShortText(text, s.Veld19, 10);
    appendShortText(text, s.TijdVrijmelden, 20);
    appendShortText(text, s.Veld21, 20);
    appendShortText(text, s.Veld22, 20);
    appendShortText(text, s.Veld23, 20);
    appendShortText(text, s.Veld24, 20);
    appendShortText(text, s.LVlagTekst, 3);
    appendInteger(text, s.LVlag);
    appendShortText(text, s.Veld27, 20);
    appendShortText(text, s.Veld28, 20);
    appendInteger(text, s.BedragCenten);
    appendInteger(text, s.Bedrijfsnummer);
    return text;
}

QString DatumTijdTekst(const QDateTime &moment)
{
    if (!moment.isValid())
        return ZeroDateTimeText;
    const QDate date = moment.date();
    const QTime time = moment.time();
    const int values[5] = { date.year(), date.month(), date.day(), time.hour(), time.minute() };
    QString text(12, u'0');
    qsizetype end = 0;
    for (int part = 0; part < 5; ++part) {
        const int width = part == 0 ? 4 : 2;
        end += width;
        int value = values[part];
        for (qsizetype digit = end - 1; digit >= end - width; --digit, value /= 10)
            text[digit] = QChar(u'0' + value % 10);
    }
    return text;
}

#pragma once

#include <QDateTime>
#include <QString>

// Date-time texts made for every log line and every date column written: QDateTime's pattern formatter and
// asprintf are both slow for something done this often.
namespace DateTimeText {

namespace Detail {
// Writes year (4 digits), month, day, hour, minute and second (2 digits) into text at the offsets given.
inline QString fill(char16_t *text, qsizetype length, const QDateTime &moment, const int (&at)[6])
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    const int values[6] = { date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second() };
    for (int part = 0; part < 6; ++part) {
        int value = values[part];
        const int width = part == 0 ? 4 : 2;
        for (int digit = at[part] + width - 1; digit >= at[part]; --digit, value /= 10)
            text[digit] = char16_t(u'0' + value % 10);
    }
    return QString(reinterpret_cast<const QChar *>(text), length);
}
} // namespace Detail

// "2011-01-09 14:05:07", as date columns take it.
inline QString sql(const QDateTime &moment)
{
    char16_t text[] = u"0000-00-00 00:00:00";
    return Detail::fill(text, 19, moment, { 0, 5, 8, 11, 14, 17 });
}

// "09-01-2011 14:05:07", the operator log's stamp.
inline QString log(const QDateTime &moment)
{
    char16_t text[] = u"00-00-0000 00:00:00";
    return Detail::fill(text, 19, moment, { 6, 3, 0, 11, 14, 17 });
}

// The operator log's stamp of a moment given in milliseconds since the epoch, made once per second: a busy link
// writes many lines within one. A second of the epoch is one second of local time, whatever the time zone does.
class LogStamps
{
public:
    const QString &at(qint64 msecsSinceEpoch)
    {
        const qint64 second = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000 : -((999 - msecsSinceEpoch) / 1000);
        if (m_text.isNull() || second != m_second) {
            m_second = second;
            m_text = log(QDateTime::fromMSecsSinceEpoch(second * 1000));
        }
        return m_text;
    }

private:
    qint64 m_second = 0;
    QString m_text;
};

// "20110109140507", the time in a temporary key.
inline QString compact(const QDateTime &moment)
{
    char16_t text[] = u"00000000000000";
    return Detail::fill(text, 14, moment, { 0, 4, 6, 8, 10, 12 });
}

} // namespace DateTimeText

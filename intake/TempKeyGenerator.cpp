#include "TempKeyGenerator.h"

#include <utility>

#include <QRandomGenerator>

namespace {
constexpr int FirstNumbers = 1000; // the first key of a second starts at a random number below this

QString secondStamp(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyyMMddHHmmss"));
}
} // namespace

TempKeyGenerator::TempKeyGenerator(const QDateTime &startup, KeyInUse keyInUse)
    : m_keyInUse(std::move(keyInUse))
    , m_newestSecond(secondStamp(startup))
{ }

QString TempKeyGenerator::format(const QDateTime &now, int number)
{
    const QDate date = now.date();
    const QTime time = now.time();
    return QLatin1Char('P') + secondStamp(now) + QString::number(date.month()) + QString::number(time.second())
        + QString::number(number);
}

QString TempKeyGenerator::next(const QDateTime &now)
{
    const QString second = secondStamp(now);
    if (second != m_currentSecond) {
        m_currentSecond = second;
        m_nextNumber = int(QRandomGenerator::global()->bounded(FirstNumbers));
        // The stamps sort as text; an earlier run may have stored keys up to its last second, which is at most
        // the second this run started in, and after the clock went back this run's own keys are in the way.
        m_checkCurrent = second <= m_newestSecond;
    }
    if (second > m_newestSecond)
        m_newestSecond = second;

    QString key = format(now, m_nextNumber++);
    while (m_checkCurrent && m_keyInUse && m_keyInUse(key))
        key = format(now, m_nextNumber++);
    return key;
}

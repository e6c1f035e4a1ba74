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

TempKeyGenerator::TempKeyGenerator(KeyInUse keyInUse)
    : m_keyInUse(std::move(keyInUse))
{ }

QString TempKeyGenerator::format(const QDateTime &now, int number)
{
    const QDate date = now.date();
    const QTime time = now.time();
    return QLatin1Char('P') + secondStamp(now) + QString::number(date.month()) + QString::number(time.second())
        + QString::number(number);
}

std::optional<QString> TempKeyGenerator::next(const QDateTime &now, QString *error)
{
    const QString second = secondStamp(now);
    if (second != m_currentSecond) {
        m_currentSecond = second;
        m_nextNumber = int(QRandomGenerator::global()->bounded(FirstNumbers));
    }
    for (;;) {
        QString key = format(now, m_nextNumber++);
        if (!m_keyInUse)
            return key;
        const std::optional<bool> inUse = m_keyInUse(key, error);
        if (!inUse)
            return std::nullopt;
        if (!*inUse)
            return key;
    }
}

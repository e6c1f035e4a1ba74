#include "TempKeyGenerator.h"

#include <utility>

#include <QRandomGenerator>

#include "platform/DateTimeText.h"

namespace {
constexpr int FirstNumbers = 1000; // the first key of a second starts at a random number below this

} // namespace

TempKeyGenerator::TempKeyGenerator(KeyInUse keyInUse)
    : m_keyInUse(std::move(keyInUse))
{ }

QString TempKeyGenerator::format(const QDateTime &now, int number)
{
    return format(DateTimeText::compact(now), now, number);
}

QString TempKeyGenerator::format(const QString &second, const QDateTime &now, int number)
{
    QString key;
    key.reserve(1 + second.size() + 2 + 2 + 11);
    key.append(QLatin1Char('P')).append(second);
    key.append(QString::number(now.date().month())).append(QString::number(now.time().second()));
    key.append(QString::number(number));
    return key;
}

std::optional<QString> TempKeyGenerator::next(const QDateTime &now, QString *error)
{
    const QString second = DateTimeText::compact(now);
    if (second != m_currentSecond) {
        m_currentSecond = second;
        m_nextNumber = int(QRandomGenerator::global()->bounded(FirstNumbers));
    }
    for (;;) {
        QString key = format(second, now, m_nextNumber++);
        if (!m_keyInUse)
            return key;
        const std::optional<bool> inUse = m_keyInUse(key, error);
        if (!inUse)
            return std::nullopt;
        if (!*inUse)
            return key;
    }
}

#pragma once

#include <functional>
#include <optional>

#include <QDateTime>
#include <QString>

// Makes the temporary key ("P", the local time, a number) that a new planning row carries in pla_temp, so that
// the intake can find the row again after inserting it. Keys never repeat: within a second the number counts up,
// and every key is checked against the keys already stored, because the clock may have gone back since they were
// made (the repeated autumn hour, a clock correction between two runs) and a second link may write the same table.
class TempKeyGenerator
{
public:
    // Whether a key is already stored in planning.pla_temp; nullopt, with the reason in *error, when the lookup
    // failed.
    using KeyInUse = std::function<std::optional<bool>(const QString &key, QString *error)>;

    explicit TempKeyGenerator(KeyInUse keyInUse);

    // A key no stored row has; nullopt, with the reason in *error, when a lookup failed.
    std::optional<QString> next(const QDateTime &now, QString *error);

    // "P" + yyyyMMddHHmmss + month and second without leading zeros + the number.
    static QString format(const QDateTime &now, int number);

private:
    static QString format(const QString &second, const QDateTime &now, int number);

    KeyInUse m_keyInUse;
    QString m_currentSecond; // yyyyMMddHHmmss of the last key handed out
    int m_nextNumber = 0;
};

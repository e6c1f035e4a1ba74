#pragma once

#include <functional>

#include <QDateTime>
#include <QString>

// Makes the temporary key ("P", the local time, a number) that a new planning row carries in pla_temp, so that
// the intake can find the row again after inserting it. Keys never repeat: within a second the number counts
// up, and a second that may have been used before (by an earlier run, or by this run before the clock went
// back) is checked against the keys already stored.
class TempKeyGenerator
{
public:
    // Whether a key is already stored in planning.pla_temp.
    using KeyInUse = std::function<bool(const QString &key)>;

    TempKeyGenerator(const QDateTime &startup, KeyInUse keyInUse);

    QString next(const QDateTime &now);

    // "P" + yyyyMMddHHmmss + month and second without leading zeros + the number.
    static QString format(const QDateTime &now, int number);

private:
    KeyInUse m_keyInUse;
    QString m_newestSecond; // yyyyMMddHHmmss: every second up to this one may have keys stored already
    QString m_currentSecond; // the second of the last key handed out
    int m_nextNumber = 0;
    bool m_checkCurrent = false;
};

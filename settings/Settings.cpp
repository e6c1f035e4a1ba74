#include "Settings.h"

#include <limits>

Settings::Settings()
{
    for (const SettingEntry &entry : SettingsTable) {
        if (entry.kind == SettingEntry::Kind::Text) {
            if (*entry.defaultText != '\0') // an empty default stays a null text
                this->*entry.text = QString::fromLatin1(entry.defaultText);
        } else {
            this->*entry.flag = entry.defaultFlag;
        }
    }
}

int Settings::leadingInt(const QString &text, NumberStart start)
{
    qsizetype i = 0;
    if (start != NumberStart::Digits) {
        while (i < text.size() && text.at(i) == QLatin1Char(' '))
            ++i;
    }
    bool negative = false;
    if (start == NumberStart::SpacesThenSignedDigits && i < text.size()
        && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    // The magnitude may reach 2^31 only for a negative number.
    const qint64 limit = qint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > limit)
            return 0; // does not fit: no usable number
    }
    return int(negative ? -value : value);
}

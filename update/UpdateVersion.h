#pragma once

#include <QString>

// True when the offered version is newer than the running one. Both are dotted numbers ("9.0.1.14") compared
// part by part as numbers, a missing part counting as 0: 9.0.1.9 is older than 9.0.1.14, 10.0.0.0 newer. An offer
// that is empty or not made of numbers alone is never newer.
bool isNewerVersion(const QString &running, const QString &offered);

#pragma once

#include <QLocale>
#include <QString>

// The figures the download dialog shows: byte counts, speed, elapsed and remaining time.

// A byte count in the largest unit it fills, by integer division, with the locale's thousands separator:
// "0 B", "1,024 B", "1 KB", "1,464 KB", "1 GB".
QString FormatFileSize(qint64 count, const QLocale &locale = QLocale::system());

// Average bytes per second since the start; 0 while no time has passed.
qint64 downloadSpeed(qint64 received, qint64 elapsedMs);

// Time still needed at the average speed so far, in milliseconds; 0 when nothing has arrived yet or all has.
qint64 remainingMilliseconds(qint64 size, qint64 received, qint64 elapsedMs);

// "hh:nn:ss" of whole seconds; the hours wrap after 24.
QString formatDuration(qint64 milliseconds);

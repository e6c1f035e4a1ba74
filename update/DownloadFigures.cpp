#include "DownloadFigures.h"

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;
constexpr qint64 GiB = 1024 * MiB;

} // namespace

QString FormatFileSize(qint64 count, const QLocale &locale)
{
    if (count <= 0)
        return QStringLiteral("0 B");
    if (count <= KiB)
        return locale.toString(count) + QStringLiteral(" B");
    if (count <= MiB)
        return locale.toString(count / KiB) + QStringLiteral(" KB");
    if (count <= GiB)
        return locale.toString(count / MiB) + QStringLiteral(" MB");
    return locale.toString(count / GiB) + QStringLiteral(" GB");
}

qint64 downloadSpeed(qint64 received, qint64 elapsedMs)
{
    if (elapsedMs <= 0 || received <= 0)
        return 0;
    return received * 1000 / elapsedMs;
}

qint64 remainingMilliseconds(qint64 size, qint64 received, qint64 elapsedMs)
{
    if (received <= 0 || received >= size || elapsedMs <= 0)
        return 0;
    // In floating point, so that the product of a large file and a long download cannot overflow.
    return qint64(double(size - received) * double(elapsedMs) / double(received));
}

QString formatDuration(qint64 milliseconds)
{
    const qint64 seconds = qMax<qint64>(0, milliseconds / 1000);
    return QStringLiteral("%1:%2:%3")
        .arg((seconds / 3600) % 24, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

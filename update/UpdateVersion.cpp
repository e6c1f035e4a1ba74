#include "UpdateVersion.h"

#include <optional>

#include <QVersionNumber>

namespace {

std::optional<QVersionNumber> readVersion(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    const QVersionNumber version = QVersionNumber::fromString(trimmed, &end);
    if (version.isNull() || end != trimmed.size())
        return std::nullopt;
    return version.normalized(); // 9.0.1 and 9.0.1.0 are the same version
}

} // namespace

bool isNewerVersion(const QString &running, const QString &offered)
{
    const std::optional<QVersionNumber> own = readVersion(running);
    const std::optional<QVersionNumber> offer = readVersion(offered);
    return own && offer && QVersionNumber::compare(*own, *offer) < 0;
}

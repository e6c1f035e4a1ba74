#include "UpdateDescription.h"

#include <QFileInfo>

#include "update/IniSection.h"

UpdateDescription UpdateDescription::fromIni(const QString &text, const QString &section)
{
    const QMap<QString, QString> keys = readIniSection(text, section);
    UpdateDescription description;
    description.DownloadFileURL = keys.value(QStringLiteral("downloadfileurl"));
    description.ReadmeFileURL = keys.value(QStringLiteral("readmefileurl"));
    description.UpdatePageURL = keys.value(QStringLiteral("updatepageurl"));
    description.Version = keys.value(QStringLiteral("version"));
    description.CRC32Hash = keys.value(QStringLiteral("crc32hash"));
    description.MD5Hash = keys.value(QStringLiteral("md5hash"));
    description.SHA1Hash = keys.value(QStringLiteral("sha1hash"));
    description.SignatureFileURL = keys.value(QStringLiteral("signaturefileurl"));
    return description;
}

QString UpdateDescription::signatureAddress() const
{
    if (!SignatureFileURL.isEmpty() || DownloadFileURL.isEmpty())
        return SignatureFileURL;
    return DownloadFileURL + QStringLiteral(".minisig");
}

QString descriptionSection(const QString &programFile)
{
    return QFileInfo(programFile).fileName().section(QLatin1Char('.'), 0, 0);
}

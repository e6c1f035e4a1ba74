#include "WorkingFolders.h"

#include <QDir>

QStringList workingFolderNames()
{
    return { QStringLiteral("BSA"), QStringLiteral("BSA/LOGS"), QStringLiteral("BSA/BACKUPS"),
        QStringLiteral("BSA/BACKUPS/IN"), QStringLiteral("BSA/BACKUPS/UIT"), QStringLiteral("Backups"),
        QStringLiteral("TempDownloads") };
}

void createWorkingFolders(const QString &home)
{
    const QDir dir(home);
    for (const QString &name : workingFolderNames()) {
        if (!dir.exists(name))
            dir.mkdir(name);
    }
}

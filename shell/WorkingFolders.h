#pragma once

#include <QString>
#include <QStringList>

// The folders under the program folder that the link writes into, parents before children.
QStringList workingFolderNames();

// Creates each missing working folder, one level at a time. A folder that cannot be made is skipped: the write
// that needs it later fails and says so.
void createWorkingFolders(const QString &home);

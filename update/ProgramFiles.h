#pragma once

#include <functional>

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// The program file as the update handles it: its backup copy, whether it may be replaced, and the safe copy that
// both the backup and the updater use.

// Copies source over target: the bytes go to a temporary file beside target, which then takes target's place in
// one rename, so target is always either the old file or the whole new one. The copy gets the given permissions.
// False, with the reason, when anything failed; target is then untouched.
// With checkCopy, the BLAKE2b-512 hash of the bytes written into the copy is handed to it before the copy takes
// target's place; when it returns false, with the reason, target stays as it was.
using CopyCheck = std::function<bool(const QByteArray &copyHash, QString *error)>;
bool copyFileReplacing(const QString &source, const QString &target, QFileDevice::Permissions permissions,
    QString *error, const CopyCheck &checkCopy = {});

// The backup before an update check: the program file copied into "Backups" of the program folder under its own
// name, replacing an earlier copy. False, with the reason, when it failed.
bool copyProgramToBackups(const QString &programFile, const QString &programFolder, QString *error);

// Whether this user may put a new program in place of the running one. Not when it was installed by the package
// manager (under /usr) or when its file or folder is read-only: such an installation is updated by its packages.
bool canReplaceProgram(const QString &programFile);

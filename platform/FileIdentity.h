#pragma once

#include <optional>

#include <QString>
#include <QtGlobal>

// Which file a path names right now: its device and inode. Nothing when there is no file, and always nothing on
// Windows, where a file that a program has open cannot be removed.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity &other) const { return device == other.device && inode == other.inode; }

    static std::optional<FileIdentity> of(const QString &path);
};

#pragma once

#include <optional>

#include <QFileDevice>

class QByteArray;
class QSaveFile;
class QString;

// Files that are replaced as a whole: the new text takes the old one's place only once every byte of it was written
// and synced to the disk. A full disk, a file-size limit or an I/O error leaves the old file as it was, byte for byte,
// and leaves nothing of the new text behind.
namespace WholeFile {

// Writes `bytes` as the new content of `fileName`, the new file with `permissions` when given. False with the
// reason in *error.
bool replace(const QString &fileName, const QByteArray &bytes, std::optional<QFileDevice::Permissions> permissions,
    QString *error);

// Ends the writing of a QSaveFile that the caller opened and wrote, checking every write: the rest of its buffer is
// written, the file synced to the disk, and only then put in the old one's place. Any failure drops the new file.
bool commit(QSaveFile &file, QString *error);

} // namespace WholeFile

#pragma once

#include <QIODevice>

class QByteArray;
class QFile;
class QString;

// Files that only the link reads and writes (they hold passengers' names and addresses): never opened through a
// symbolic link, created readable by their owner only whatever the umask, and a file that exists keeps its mode.
namespace PrivateFile {

// A symbolic link stands at `fileName`, also one whose target does not exist.
bool isSymLink(const QString &fileName);

// Opens `file` (its name set) in `mode`; with QIODevice::WriteOnly or Append it is created owner-only when missing.
// A symbolic link in its place is refused. False with the reason in *error.
bool open(QFile &file, QIODevice::OpenMode mode, QString *error);

// WholeFile::replace for such a file: refused when a symbolic link stands in its place, created owner-only.
bool replace(const QString &fileName, const QByteArray &bytes, QString *error);

// Writes what `file` buffers and puts it on the disk. False with the reason in *error.
bool flushToDisk(QFile &file, QString *error);

} // namespace PrivateFile

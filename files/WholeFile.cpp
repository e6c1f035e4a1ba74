#include "files/WholeFile.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include "files/DiskSync.h"

namespace WholeFile {

bool replace(const QString &fileName, const QByteArray &bytes, std::optional<QFileDevice::Permissions> permissions,
    QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (permissions && !file.setPermissions(*permissions)) {
        *error = QStringLiteral("de rechten kunnen niet gezet worden");
        file.cancelWriting();
        return false;
    }
    // A short write sets no error of its own: the count is what tells.
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        *error = file.error() != QFileDevice::NoError
            ? file.errorString()
            : QStringLiteral("%1 van %2 bytes geschreven").arg(qMax<qint64>(written, 0)).arg(bytes.size());
        file.cancelWriting();
        return false;
    }
    return commit(file, error);
}

bool commit(QSaveFile &file, QString *error)
{
    // QSaveFile::commit() writes what its buffer still holds, but renames the file over the old one even when that
    // write failed (a full disk gave an empty settings file that way). So the buffer is written here, checked, and
    // the file synced, before commit() may rename it.
    if (!DiskSync::flush(file, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace WholeFile

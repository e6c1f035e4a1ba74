#include "files/PrivateFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include "files/DiskSync.h"
#include "files/WholeFile.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PrivateFile {

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString symLinkRefused()
{
    return QStringLiteral("er staat een symbolische koppeling, die niet gevolgd wordt");
}

#ifdef Q_OS_UNIX
QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
#endif

} // namespace

bool isSymLink(const QString &fileName)
{
    return QFileInfo(fileName).isSymLink();
}

bool open(QFile &file, QIODevice::OpenMode mode, QString *error)
{
#ifdef Q_OS_UNIX
    int flags = O_CLOEXEC | O_NOFOLLOW;
    if (mode & QIODevice::ReadOnly)
        flags |= (mode & QIODevice::WriteOnly) ? O_RDWR : O_RDONLY;
    else
        flags |= O_WRONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    const QByteArray name = QFile::encodeName(file.fileName());
    int fd = ::open(name.constData(), flags);
    if (fd < 0 && errno == ENOENT && (mode & QIODevice::WriteOnly)) {
        // Made here, so its mode is set here: the umask may have left it readable by others, or not writable.
        fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        if (fd >= 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
            const int code = errno;
            ::close(fd);
            *error = systemError(code);
            return false;
        }
    }
    if (fd < 0) {
        const int code = errno;
        // O_NOFOLLOW gives ELOOP for a link in the file's place.
        *error = code == ELOOP ? symLinkRefused() : systemError(code);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
#else
    // Windows: who may read the file is decided by the folder's access list (the user's own profile, or the program
    // folder the installer made for this user); Qt's permissions set only the read-only flag there. A link in the
    // file's place is refused as on Linux, checked just before the open.
    if (isSymLink(file.fileName())) {
        *error = symLinkRefused();
        return false;
    }
    const bool existed = file.exists();
    if (!file.open(mode)) {
        *error = file.errorString();
        return false;
    }
    if (!existed)
        file.setPermissions(OwnerOnly);
    return true;
#endif
}

bool replace(const QString &fileName, const QByteArray &bytes, QString *error)
{
    // QSaveFile writes through a symbolic link to its target; the link's own files are never written that way.
    if (isSymLink(fileName)) {
        *error = symLinkRefused();
        return false;
    }
    const std::optional<QFileDevice::Permissions> permissions
        = QFileInfo::exists(fileName) ? std::nullopt : std::optional(OwnerOnly);
    return WholeFile::replace(fileName, bytes, permissions, error);
}

bool flushToDisk(QFile &file, QString *error)
{
    return DiskSync::flush(file, error);
}

} // namespace PrivateFile

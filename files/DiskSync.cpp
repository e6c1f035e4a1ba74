#include "files/DiskSync.h"

#include <QFileDevice>
#include <QString>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace DiskSync {

bool flush(QFileDevice &file, QString *error)
{
    if (!file.flush()) {
        *error = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#endif
    return true;
}

} // namespace DiskSync

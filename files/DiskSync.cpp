#include "files/DiskSync.h"

#include <QFileDevice>
#include <QString>

#include <cerrno>
#include <cstring>
#ifdef Q_OS_UNIX
#include <unistd.h>
#else
#include <io.h>
#endif

namespace DiskSync {

bool flush(QFileDevice &file, QString *error)
{
    if (!file.flush()) {
        *error = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    const int synced = ::fsync(file.handle());
#else
    const int synced = ::_commit(file.handle()); // FlushFileBuffers on the file's handle
#endif
    if (synced != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace DiskSync

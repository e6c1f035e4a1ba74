#include "ProgramFolderLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>

ProgramFolderLock::ProgramFolderLock(const QString &programFolder)
    : m_programFolder(programFolder)
    , m_lock(std::make_unique<QLockFile>(QDir(programFolder).filePath(QLatin1String(FileName))))
{
    // However long a run lasts, its lock stays its own; only a lock whose process is gone counts as left behind.
    m_lock->setStaleLockTime(0);
}

ProgramFolderLock::~ProgramFolderLock() = default;

ProgramFolderLock::Outcome ProgramFolderLock::take(QString *reason)
{
    if (m_lock->tryLock())
        return Outcome::Held;
    // A lock left behind by a process whose number this run now has looks held by a running KorvelBSA: it is this
    // one. Process numbers come round again soon under Wine and in a service's fresh process namespace.
    qint64 holder = 0;
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->getLockInfo(&holder, nullptr, nullptr)
        && holder == QCoreApplication::applicationPid() && m_lock->removeStaleLockFile() && m_lock->tryLock())
        return Outcome::Held;
    const QString folder = QDir::toNativeSeparators(m_programFolder);
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        *reason = QStringLiteral("KorvelBSA draait al in deze map: %1").arg(folder);
        return Outcome::InUse;
    case QLockFile::PermissionError:
        *reason = QStringLiteral("cannot lock the program folder '%1': no permission to create %2 there")
                      .arg(folder, QLatin1String(FileName));
        return Outcome::Failed;
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    *reason = QStringLiteral("cannot lock the program folder '%1': %2 cannot be made there")
                  .arg(folder, QLatin1String(FileName));
    return Outcome::Failed;
}

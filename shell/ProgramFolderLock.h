#pragma once

#include <memory>

#include <QString>

class QLockFile;

// One program per program folder: two copies on one folder would each write the settings file at their end (the one
// that ends last wins) and each send the outgoing queue. The lock file is held for the whole run; a copy that ended
// without releasing it (killed, or its machine stopped) leaves a lock that the next start takes over, since the
// process named in it is gone.
class ProgramFolderLock final
{
public:
    enum class Outcome {
        Held, // this run has the folder
        InUse, // another copy of the program runs in it
        Failed, // no lock file can be made there
    };

    static constexpr char FileName[] = "KorvelBSA.lock";
    // The exit status of a headless start on a folder in use: nothing this run can mend, so a service manager
    // must not start it again.
    static constexpr int InUseExitStatus = 4;

    explicit ProgramFolderLock(const QString &programFolder);
    ~ProgramFolderLock();
    Q_DISABLE_COPY_MOVE(ProgramFolderLock)

    // Takes the folder for this run, without waiting. The reason, when not Held, is for the operator.
    Outcome take(QString *reason);

private:
    QString m_programFolder;
    std::unique_ptr<QLockFile> m_lock;
};

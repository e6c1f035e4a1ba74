#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "update/UpdaterHandOff.h"
#include "update/updater/ProgramReplacer.h"

// KorvelUpdater 'PATH': puts the downloaded program at PATH in place of the program that started it, once that
// has ended, and starts it again. The program names itself, its process, its arguments, the download's signature
// and its version in the environment.
int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN); // a closed standard error must not end the update halfway
#endif
    QCoreApplication app(argc, argv);
    const QStringList parameters = QCoreApplication::arguments().mid(1);
    if (parameters.size() != 1) {
        std::fprintf(stderr, "usage: KorvelUpdater 'PATH OF THE DOWNLOADED PROGRAM'\n");
        return 2;
    }
    const QString download = QFileInfo(UpdaterHandOff::unquotedPath(parameters.first())).absoluteFilePath();

    QString program = qEnvironmentVariable(UpdaterHandOff::ProgramFileVariable);
    if (program.isEmpty()) {
#ifdef Q_OS_WIN
        program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("KorvelBSA.exe"));
#else
        program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("KorvelBSA"));
#endif
    }
    const qint64 pid = qEnvironmentVariable(UpdaterHandOff::ProgramPidVariable).toLongLong();
    const QStringList arguments
        = UpdaterHandOff::decodeArguments(qEnvironmentVariable(UpdaterHandOff::ProgramArgumentsVariable));

    ProgramReplacer replacer(download, program, pid, arguments);
    replacer.setSignature(
        qEnvironmentVariable(UpdaterHandOff::SignatureVariable), qEnvironmentVariable(UpdaterHandOff::VersionVariable));
    QObject::connect(&replacer, &ProgramReplacer::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    QTimer::singleShot(0, &replacer, &ProgramReplacer::run);
    return app.exec();
}

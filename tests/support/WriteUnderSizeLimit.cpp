// A child process for the tests of files that are replaced as a whole: it reads one of the link's files, then limits
// the size of every file it may write, as a full disk would, and lets the link write that file anew.
//   WriteUnderSizeLimit BYTES settings FOLDER SERVER   the settings file of FOLDER, with xLoginServer = SERVER
//   WriteUnderSizeLimit BYTES queue FOLDER LINE        the outgoing queue of FOLDER, with LINE appended
//   WriteUnderSizeLimit BYTES send FOLDER COUNT        the outgoing queue of FOLDER, its first COUNT lines sent
//   WriteUnderSizeLimit BYTES copy SOURCE TARGET       the program's safe copy of SOURCE over TARGET
// Exits 0 when the link reported the file as written, 1 with its report on standard error when it did not, and 2
// when the arguments or the limit were wrong.
#include <csignal>
#include <cstdio>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QStringList>

#include "feedback/OutgoingQueue.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "update/ProgramFiles.h"

namespace {

qulonglong limit = 0;

// From here on a file cannot grow past the limit; a write past it fails with EFBIG instead of killing the process.
bool limitFileSize()
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit fileSize {};
    if (getrlimit(RLIMIT_FSIZE, &fileSize) != 0)
        return false;
    fileSize.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) {
        std::perror("setrlimit");
        return false;
    }
    return true;
}

int writeSettings(const QString &folder, const QString &server)
{
    SettingsStore store(folder);
    QString error;
    if (!store.LoadSettingsFile(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    Settings settings;
    store.RestoreSettings(settings);
    settings.xLoginServer = server;
    store.CaptureSettings(settings);
    if (!limitFileSize())
        return 2;
    if (!store.WriteSettingsFile(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}

int appendToQueue(const QString &folder, const QString &line)
{
    OutgoingQueue queue(folder);
    QStringList reports;
    QObject::connect(&queue, &OutgoingQueue::logLine, [&reports](const QString &message) { reports << message; });
    queue.restore();
    reports.clear(); // what the restore said is not about this write
    if (!limitFileSize())
        return 2;
    queue.append(line);
    if (!reports.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(reports.join(QLatin1Char('\n'))));
        return 1;
    }
    return 0;
}

int sendFromQueue(const QString &folder, const QString &count)
{
    OutgoingQueue queue(folder);
    QStringList reports;
    QObject::connect(&queue, &OutgoingQueue::logLine, [&reports](const QString &message) { reports << message; });
    queue.restore();
    reports.clear();
    if (!limitFileSize())
        return 2;
    for (int i = count.toInt(); i > 0; --i)
        queue.removeFirst();
    if (!reports.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(reports.join(QLatin1Char('\n'))));
        return 1;
    }
    return 0;
}

int copyOver(const QString &source, const QString &target)
{
    if (!limitFileSize())
        return 2;
    QString error;
    if (!copyFileReplacing(source, target, QFileDevice::ReadOwner | QFileDevice::WriteOwner, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    limit = args.value(1).toULongLong(&ok);
    if (args.size() != 5 || !ok) {
        std::fprintf(stderr, "usage: WriteUnderSizeLimit BYTES settings|queue|send|copy FOLDER|SOURCE VALUE|TARGET\n");
        return 2;
    }
    if (args.at(2) == QLatin1String("settings"))
        return writeSettings(args.at(3), args.at(4));
    if (args.at(2) == QLatin1String("queue"))
        return appendToQueue(args.at(3), args.at(4));
    if (args.at(2) == QLatin1String("send"))
        return sendFromQueue(args.at(3), args.at(4));
    if (args.at(2) == QLatin1String("copy"))
        return copyOver(args.at(3), args.at(4));
    return 2;
}

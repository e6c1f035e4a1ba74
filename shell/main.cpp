#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include "shell/HeadlessRun.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KorvelBSA"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BSA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Link between BSA and the ride planning database."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headless(QStringLiteral("headless"),
        QStringLiteral("Run without a window; every log line also goes to standard "
                       "output. SIGTERM or SIGINT ends the run."));
    const QCommandLineOption home(QStringLiteral("home"),
        QStringLiteral("Program folder: settings file, BSA/, Backups/, TempDownloads/ "
                       "(default: the folder of the program file)."),
        QStringLiteral("DIR"));
    const QCommandLineOption serverPort(QStringLiteral("server-port"),
        QStringLiteral("Port on which the BSA server listens (default 12001)."), QStringLiteral("N"));
    parser.addOptions({ headless, home, serverPort });
    parser.process(app);

    const QString port = parser.value(serverPort);
    if (parser.isSet(serverPort)) {
        bool isNumber = false;
        const int value = port.toInt(&isNumber);
        if (!isNumber || value < 1 || value > 65535) {
            std::fprintf(
                stderr, "KorvelBSA: --server-port wants a port number from 1 to 65535, not '%s'\n", qPrintable(port));
            return 2;
        }
    }
    QString folder = parser.isSet(home) ? parser.value(home) : QCoreApplication::applicationDirPath();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "KorvelBSA: cannot create the program folder '%s'\n", qPrintable(folder));
        return 2;
    }
    folder = QDir(folder).absolutePath();

    if (!parser.isSet(headless))
        std::fprintf(stderr, "KorvelBSA: this build has no window yet; running headless\n");
    return runHeadless(folder, port);
}

#include <cstdio>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include "app/DisplayCheck.h"
#include "app/HeadlessRun.h"
#include "app/RunOptions.h"
#include "app/WindowRun.h"
#include "platform/DescriptorLimit.h"
#include "platform/FileSizeLimit.h"
#include "platform/ParentConsole.h"
#include "shell/Koppeling.h"
#include "update/UpdateAddresses.h"

namespace {

#ifdef Q_OS_WIN
#define EndingTheRun "Ctrl+C, Ctrl+Break, closing the console or the end of the session"
#else
#define EndingTheRun "SIGTERM, SIGINT or SIGHUP"
#endif

struct Options
{
    QCommandLineOption headless { QStringLiteral("headless"),
        QStringLiteral("Run without a window; every log line also goes to standard output. " EndingTheRun
                       " ends the run through the close sequence.") };
    QCommandLineOption home { QStringLiteral("home"),
        QStringLiteral("Program folder: settings file, BSA/, Backups/, TempDownloads/ (default: the folder of the "
                       "program file, or the user's data folder .../share/korvelbsa when that one is not writable or "
                       "lies under /usr)."),
        QStringLiteral("DIR") };
    QCommandLineOption serverPort { QStringLiteral("server-port"),
        QStringLiteral("Port on which the BSA server listens (default 12001)."), QStringLiteral("N") };
    QCommandLineOption listen { QStringLiteral("listen"),
        QStringLiteral("The one local IPv4 address on which the BSA server listens, for this run only (never stored; "
                       "default: every IPv4 address of this machine)."),
        QStringLiteral("ADDRESS") };
    QCommandLineOption statusPort { QStringLiteral("status-port"),
        QStringLiteral("Serve GET /health and GET /metrics (Prometheus) for the monitoring on 127.0.0.1, port N "
                       "(default: off)."),
        QStringLiteral("N") };
    QCommandLineOption updateUrl { QStringLiteral("update-url"),
        QStringLiteral("Update description file that \"UPDATE CONTROLE\" reads, for this run only (never stored; "
                       "default: %1). The headless program does not check for updates.")
            .arg(defaultUpdateFileURL().toString()),
        QStringLiteral("URL") };
};

void describe(QCommandLineParser &parser, Options &options)
{
    parser.setApplicationDescription(
        QStringLiteral("Link between BSA and the ride planning database.\n\n"
                       "The planning database is the setting xLoginServer_Text in KorvelBSA.xml in the program folder, "
                       "e.g. sqlite:BSA/planning.db for the embedded SQLite file. Without it (no settings file, or the "
                       "setting empty) every ride is refused with NC.\n\n"
                       "Exit status: 0: the run ended as asked; 1: the settings file cannot be read; 2: a wrong "
                       "command line, or a program folder that cannot be made or locked; 3: a port cannot be opened "
                       "(headless: the BSA server's port or the status port); 4: another KorvelBSA runs in the "
                       "program folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(
        { options.headless, options.home, options.serverPort, options.listen, options.statusPort, options.updateUrl });
}

// A wrong command line ends the start with status 2 and the reason on standard error, which on Windows is the console
// the program was started from, also when it was to show its window.
int commandLineError(const QString &reason)
{
    ParentConsole::attach();
    std::fprintf(stderr, "KorvelBSA: %s\n", qPrintable(reason));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // Every BSA connection takes a descriptor: allow as many as the system lets this process have.
    DescriptorLimit::raiseToHardLimit();
    FileSizeLimit::letWritesFail();

    // The window needs a QApplication and a display; help, the version and the headless run need neither, so the
    // arguments are looked at before the application object is made.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Options early;
    QCommandLineParser earlyParser;
    describe(earlyParser, early);
    const bool parsed = earlyParser.parse(arguments);
    const bool wantsWindow = parsed && !earlyParser.isSet(early.headless) && !earlyParser.isSet(QStringLiteral("help"))
        && !earlyParser.isSet(QStringLiteral("help-all")) && !earlyParser.isSet(QStringLiteral("version"));
    const bool window = wantsWindow && DisplayCheck::displayAvailable();
    if (!window)
        ParentConsole::attach();

    std::unique_ptr<QCoreApplication> app;
    if (window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KorvelBSA"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BSA_VERSION));

    Options options;
    QCommandLineParser parser;
    describe(parser, options);
    // Help, the version and a wrong option are written here rather than by Qt, which on Windows would show them in a
    // message box whenever the program was not started with a console or redirected output. An unknown option is a
    // wrong command line like any other: status 2, where QCommandLineParser would give 1, which stands for a settings
    // file that cannot be read.
    if (!parser.parse(QCoreApplication::arguments()))
        return commandLineError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
            qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }

#if !BSA_STATUS_PORT
    if (parser.isSet(options.statusPort))
        return commandLineError(Koppeling::StatusPortMissing);
#endif
    RunOptions run;
    for (const QCommandLineOption *option : { &options.serverPort, &options.statusPort }) {
        if (!parser.isSet(*option))
            continue;
        const QString port = parser.value(*option);
        bool isNumber = false;
        const int value = port.toInt(&isNumber);
        if (!isNumber || value < 1 || value > 65535) {
            return commandLineError(QStringLiteral("--%1 wants a port number from 1 to 65535, not '%2'")
                                        .arg(option->names().constFirst(), port));
        }
        if (option == &options.serverPort)
            run.serverPort = port;
        else
            run.statusPort = quint16(value);
    }
    if (parser.isSet(options.listen)) {
        QString reason;
        const std::optional<QHostAddress> address = localIPv4Address(parser.value(options.listen), &reason);
        if (!address) {
            return commandLineError(QStringLiteral("--listen: ") + reason);
        }
        run.listenAddress = *address;
    }
    QUrl updateFileURL;
    if (parser.isSet(options.updateUrl)) {
        const QString address = parser.value(options.updateUrl);
        updateFileURL = QUrl(address, QUrl::StrictMode);
        const QString scheme = updateFileURL.scheme();
        if (!updateFileURL.isValid() || updateFileURL.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            return commandLineError(
                QStringLiteral("--update-url wants an http or https address, not '%1'").arg(address));
        }
    }
    QString folder = parser.isSet(options.home)
        ? parser.value(options.home)
        : defaultProgramFolder(QCoreApplication::applicationDirPath(), &run.programFolderNote);
    if (!QDir().mkpath(folder)) {
        return commandLineError(QStringLiteral("cannot create the program folder '%1'").arg(folder));
    }
    folder = QDir(folder).absolutePath();

    if (window)
        return runWindow(folder, run, updateFileURL);
    if (wantsWindow)
        std::fprintf(stderr, "KorvelBSA: no display to show the window on; running headless\n");
    return runHeadless(folder, run);
}

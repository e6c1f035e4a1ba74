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
#include "update/UpdateAddresses.h"

namespace {

struct Options
{
    QCommandLineOption headless { QStringLiteral("headless"),
        QStringLiteral("Run without a window; every log line also goes to standard output. SIGTERM, SIGINT or "
                       "SIGHUP ends the run through the close sequence.") };
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
    // An unknown option is a wrong command line like any other: status 2, where QCommandLineParser would give 1,
    // which stands for a settings file that cannot be read.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "KorvelBSA: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    parser.process(*app); // --help and --version print and end here

    RunOptions run;
    for (const QCommandLineOption *option : { &options.serverPort, &options.statusPort }) {
        if (!parser.isSet(*option))
            continue;
        const QString port = parser.value(*option);
        bool isNumber = false;
        const int value = port.toInt(&isNumber);
        if (!isNumber || value < 1 || value > 65535) {
            std::fprintf(stderr, "KorvelBSA: --%s wants a port number from 1 to 65535, not '%s'\n",
                qPrintable(option->names().constFirst()), qPrintable(port));
            return 2;
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
            std::fprintf(stderr, "KorvelBSA: --listen: %s\n", qPrintable(reason));
            return 2;
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
            std::fprintf(
                stderr, "KorvelBSA: --update-url wants an http or https address, not '%s'\n", qPrintable(address));
            return 2;
        }
    }
    QString folder = parser.isSet(options.home)
        ? parser.value(options.home)
        : defaultProgramFolder(QCoreApplication::applicationDirPath(), &run.programFolderNote);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "KorvelBSA: cannot create the program folder '%s'\n", qPrintable(folder));
        return 2;
    }
    folder = QDir(folder).absolutePath();

    if (window)
        return runWindow(folder, run, updateFileURL);
    if (wantsWindow)
        std::fprintf(stderr, "KorvelBSA: no display to show the window on; running headless\n");
    return runHeadless(folder, run);
}

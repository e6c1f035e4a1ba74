// A stand-in for the program in the updater's tests: "UpdateStandIn MARKER". Each run appends "ran <version>" to
// the marker file. The first run (no marker yet) hands "TempDownloads/KorvelBSA" beside it to the updater, with
// its signature "TempDownloads/KorvelBSA.minisig" for version 9.0.1.15, as the program does after a verified
// download, and ends. A later run keeps running, as a program that started well
// does, until the marker file is gone (the test is over) or half a minute has passed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include "update/UpdaterHandOff.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return 2;
    QFile marker(arguments.first());
    const bool first = !marker.exists();
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return 3;
    marker.write("ran " STAND_IN_VERSION "\n");
    if (!first) {
        marker.close();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &app, [&marker] {
            if (!marker.exists())
                QCoreApplication::quit();
        });
        poll.start(100);
        QTimer::singleShot(30000, &app, &QCoreApplication::quit);
        return QCoreApplication::exec();
    }

    const QString program = QCoreApplication::applicationFilePath();
    const QString download = QFileInfo(program).absoluteDir().filePath(QStringLiteral("TempDownloads/KorvelBSA"));
    QString error;
    // Signed for 9.0.1.15, as the tests sign it.
    const UpdaterHandOff::Download handOver { download, download + QStringLiteral(".minisig"),
        QStringLiteral("9.0.1.15") };
    if (!UpdaterHandOff::startUpdater(UpdaterHandOff::updaterPath(program), handOver, program, arguments, &error)) {
        marker.write("no updater: " + error.toUtf8() + '\n');
        return 4;
    }
    return 0;
}

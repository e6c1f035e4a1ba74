#pragma once

#include <QString>
#include <QStringList>

// The hand-off between the program and its updater "KorvelUpdater". The updater takes one parameter, the path of
// the verified download in single quotes. What else it needs travels in its environment, so that the parameter
// stays the one it has always been.
namespace UpdaterHandOff {

// The process id of the program; the updater waits until it has ended.
inline constexpr char ProgramPidVariable[] = "KORVEL_UPDATE_PID";
// The program file to replace; without it, "KorvelBSA" beside the updater.
inline constexpr char ProgramFileVariable[] = "KORVEL_UPDATE_PROGRAM";
// The program's arguments as a JSON array of strings, to start it again as it was started.
inline constexpr char ProgramArgumentsVariable[] = "KORVEL_UPDATE_ARGUMENTS";
// The download's minisign signature, and the version it must name: the updater checks the copy it puts in place.
inline constexpr char SignatureVariable[] = "KORVEL_UPDATE_SIGNATURE";
inline constexpr char VersionVariable[] = "KORVEL_UPDATE_VERSION";

// "KorvelUpdater" in the folder of the program file ("KorvelUpdater.exe" on Windows).
QString updaterPath(const QString &programFile);

// The one parameter: "'" + path + "'".
QString quotedPath(const QString &path);
// The path inside the parameter; an unquoted parameter is taken as it is.
QString unquotedPath(const QString &parameter);

QString encodeArguments(const QStringList &arguments);
QStringList decodeArguments(const QString &text);

// What the updater is to put in place: the download, its signature file and the version the signature names.
struct Download
{
    QString file;
    QString signature;
    QString version;
};

// Starts the updater detached, with this process's id, the program file, the program's arguments, the signature and
// the version in its environment, and with no standard input or output. It inherits this process's working folder,
// so that relative arguments still hold when it starts the program again. False, with the reason, when it could not
// be started.
bool startUpdater(const QString &updater, const Download &download, const QString &programFile,
    const QStringList &programArguments, QString *error);

} // namespace UpdaterHandOff

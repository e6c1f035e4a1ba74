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

// "KorvelUpdater" in the folder of the program file ("KorvelUpdater.exe" on Windows).
QString updaterPath(const QString &programFile);

// The one parameter: "'" + path + "'".
QString quotedPath(const QString &path);
// The path inside the parameter; an unquoted parameter is taken as it is.
QString unquotedPath(const QString &parameter);

QString encodeArguments(const QStringList &arguments);
QStringList decodeArguments(const QString &text);

// Starts the updater detached, with this process's id, the program file and the program's arguments in its
// environment, and with no standard input or output. It inherits this process's working folder, so that relative
// arguments still hold when it starts the program again. False, with the reason, when it could not be started.
bool startUpdater(const QString &updater, const QString &download, const QString &programFile,
    const QStringList &programArguments, QString *error);

} // namespace UpdaterHandOff

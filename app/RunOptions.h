#pragma once

#include <optional>

#include <QHostAddress>
#include <QString>

class Koppeling;

// What the command line sets for one run of the link; none of it is stored.
struct RunOptions
{
    QString serverPort; // empty: the setting BSAServerPoort
    QHostAddress listenAddress; // null: every IPv4 address
    quint16 statusPort = 0; // 0: no status port
    QString programFolderNote; // why the program folder is not the folder of the program file, for the log
};

// Applies the options to a started link: its server's port and address, the status port and the note. False, with
// the reason, when the status port cannot be opened.
bool applyRunOptions(Koppeling &koppeling, const RunOptions &options, QString *error);

// An IPv4 address of this machine in dotted form (four decimal numbers, no leading zeros: "010.0.0.1" would be read
// as octal elsewhere). Any loopback address 127.x.y.z counts, and 0.0.0.0 stands for every address. nullopt, with the
// reason, otherwise.
std::optional<QHostAddress> localIPv4Address(const QString &text, QString *error);

// The program folder when none is given: the folder of the program file, unless its user may not write there or it
// lies under /usr, where the package manager installed it; then the user's own data folder (…/share/korvelbsa, on
// Windows %LOCALAPPDATA%\KorvelBSA), and *note says why.
QString defaultProgramFolder(const QString &programDir, QString *note);

#include "RunOptions.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

#include "shell/Koppeling.h"

bool applyRunOptions(Koppeling &koppeling, const RunOptions &options, QString *error)
{
    if (!options.programFolderNote.isEmpty())
        koppeling.Logger(options.programFolderNote);
    if (!options.serverPort.isEmpty()) {
        Settings settings = koppeling.settings();
        settings.BSAServerPoort = options.serverPort;
        koppeling.setSettings(settings);
    }
    koppeling.setListenAddress(options.listenAddress);
    if (options.statusPort != 0)
        return koppeling.startStatusPort(options.statusPort, error);
    return true;
}

std::optional<QHostAddress> localIPv4Address(const QString &text, QString *error)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    bool dotted = parts.size() == 4;
    quint32 value = 0;
    for (const QString &part : parts) {
        bool number = false;
        const uint byte = part.toUInt(&number);
        const bool plainDigits = !part.isEmpty() && part.size() <= 3
            && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!number || !plainDigits || byte > 255 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            dotted = false;
        value = (value << 8) | (byte & 0xFF);
    }
    if (!dotted) {
        if (error)
            *error = QStringLiteral("'%1' is not an IPv4 address such as 192.0.2.10").arg(text);
        return std::nullopt;
    }
    const QHostAddress address(value);
    if (address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv4)
        || QNetworkInterface::allAddresses().contains(address))
        return address;
    if (error)
        *error = QStringLiteral("%1 is not an address of this machine").arg(address.toString());
    return std::nullopt;
}

QString defaultProgramFolder(const QString &programDir, QString *note)
{
    const QFileInfo folder(programDir);
    const QString path = folder.canonicalFilePath().isEmpty() ? folder.absoluteFilePath() : folder.canonicalFilePath();
    const bool packaged = path.startsWith(QStringLiteral("/usr/"));
    // A file made and removed again: on Windows the folder's attributes say nothing about the user's rights (a
    // program installed for all users under Program Files looks writable).
    QTemporaryFile probe(QDir(programDir).filePath(QStringLiteral(".korvelbsa-probe-XXXXXX")));
    if (!packaged && probe.open())
        return programDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return programDir; // nowhere else to go: the writes that fail say so
#ifdef Q_OS_WIN
    const QString own = QDir(data).filePath(QStringLiteral("KorvelBSA")); // %LOCALAPPDATA%\KorvelBSA
#else
    const QString own = QDir(data).filePath(QStringLiteral("korvelbsa"));
#endif
    if (note) {
        *note = QStringLiteral("Programmamap %1: de map van het programma, %2, is %3")
                    .arg(QDir::toNativeSeparators(own), QDir::toNativeSeparators(programDir),
                        packaged ? QStringLiteral("van het pakketbeheer") : QStringLiteral("niet schrijfbaar"));
    }
    return own;
}

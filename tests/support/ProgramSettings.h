#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include "tests/support/TestFiles.h"

// The program's settings file holding the given settings lines (each "    <Name>value</Name>\r\n").
inline QByteArray settingsFile(const QByteArray &lines)
{
    return "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
           "    <FormVersion>0</FormVersion>\r\n"
        + lines + "  </Hoofdscherm>\r\n</Configuration>\r\n";
}

// One settings line: "    <Name>value</Name>\r\n".
inline QByteArray settingsLine(const QByteArray &name, const QByteArray &value)
{
    return "    <" + name + '>' + value + "</" + name + ">\r\n";
}

// The settings file with the planning database `server` and the given further settings lines.
inline QByteArray databaseSettings(const QByteArray &server, const QByteArray &moreLines = {})
{
    return settingsFile(settingsLine("xLoginServer_Text", server) + moreLines);
}

// The same with the planning database in an SQLite file in the program folder.
inline QByteArray sqliteSettings(const QByteArray &moreLines = {})
{
    return databaseSettings("sqlite:BSA/planning.db", moreLines);
}

// Writes that settings file into the program folder `home`.
[[nodiscard]] inline bool writeSqliteSettings(const QString &home, const QByteArray &moreLines = {})
{
    return writeFile(QDir(home).filePath(QStringLiteral("KorvelBSA.xml")), sqliteSettings(moreLines));
}

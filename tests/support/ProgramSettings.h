#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include "tests/support/TestFiles.h"

// The program's settings file with the planning database `server` and the given further settings lines (each
// "    <Name>value</Name>\r\n").
inline QByteArray databaseSettings(const QByteArray &server, const QByteArray &moreLines = {})
{
    return "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
           "    <FormVersion>0</FormVersion>\r\n"
           "    <xLoginServer_Text>"
        + server + "</xLoginServer_Text>\r\n" + moreLines + "  </Hoofdscherm>\r\n</Configuration>\r\n";
}

// The same with the planning database in an SQLite file in the program folder.
inline QByteArray sqliteSettings(const QByteArray &moreLines = {})
{
    return databaseSettings("sqlite:BSA/planning.db", moreLines);
}

// One settings line: "    <Name>value</Name>\r\n".
inline QByteArray settingsLine(const QByteArray &name, const QByteArray &value)
{
    return "    <" + name + '>' + value + "</" + name + ">\r\n";
}

// Writes that settings file into the program folder `home`.
[[nodiscard]] inline bool writeSqliteSettings(const QString &home, const QByteArray &moreLines = {})
{
    return writeFile(QDir(home).filePath(QStringLiteral("KorvelBSA.xml")), sqliteSettings(moreLines));
}

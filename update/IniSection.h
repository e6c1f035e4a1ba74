#pragma once

#include <QMap>
#include <QString>

// The keys of one section of an INI text, read as the Windows profile functions read them: section and key names
// compare case-insensitively, blanks around a value are dropped, the rest of the line after the first "=" is the
// value, and only the first section of that name counts. Keys come back folded to lower case.
//
// QSettings does not do this on Linux: there names are case-sensitive and a comma makes a value a list.
QMap<QString, QString> readIniSection(const QString &text, const QString &section);

#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// Message texts written by hand, one per line of a file: what `bsa-sim send --file` reads.
namespace MessageFile {

// One line as a message text. Fields are separated by TAB, or by " | " when the line holds no TAB; in a value
// the two characters "\n" stand for a line break, which goes out as ESC "L" "F".
QString messageFromLine(QStringView line);

// Every message of the file, in order. Empty lines and lines starting with "#" are skipped.
bool read(const QString &path, QStringList *messages, QString *error);

// "\n" in text typed on a command line becomes a real line break.
QString withLineBreaks(QStringView typed);

} // namespace MessageFile

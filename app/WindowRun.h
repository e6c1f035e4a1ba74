#pragma once

#include <QString>
#include <QUrl>

struct RunOptions;

// The application title, for the program as a whole (the window has its own caption).
inline const QString ApplicationTitle = QStringLiteral("Rovix Korvel voor BSA koppeling");

// Runs the link with its window until the operator closes it (or the desktop session or the system ends it).
// A QApplication must exist. updateFileURL, when not empty, is the update description file of this run instead of
// the one the program was built with. Returns the program's exit code.
int runWindow(const QString &programFolder, const RunOptions &options, const QUrl &updateFileURL);

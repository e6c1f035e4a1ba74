#pragma once

#include <QString>

// The application title, for the program as a whole (the window has its own caption).
inline const QString ApplicationTitle = QStringLiteral("Rovix Korvel voor BSA koppeling");

// Runs the link with its window until the operator closes it (or the desktop session or the system ends it).
// A QApplication must exist. Returns the program's exit code.
int runWindow(const QString &programFolder, const QString &serverPort);

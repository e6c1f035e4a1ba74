#pragma once

#include <QString>

struct RunOptions;

// Runs the link without a window until the system asks it to end (SIGTERM, SIGINT): every log line also goes to
// standard output, and the BSA server starts at once. Returns the program's exit code: 3 when the status port cannot
// be opened.
int runHeadless(const QString &programFolder, const RunOptions &options);

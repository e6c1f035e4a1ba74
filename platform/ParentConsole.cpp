#include "platform/ParentConsole.h"

#ifdef Q_OS_WIN
#include <cstdio>

#include <qt_windows.h>

namespace {
bool leadsSomewhere(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}
} // namespace

void ParentConsole::attach()
{
    if (GetConsoleWindow() != nullptr)
        return; // attached already
    // Attached also when the output is redirected: Ctrl+C, Ctrl+Break and the console's close reach a program only
    // through the console it is attached to.
    const bool output = leadsSomewhere(STD_OUTPUT_HANDLE);
    const bool errors = leadsSomewhere(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return; // started from Explorer or a shortcut: there is no console to write to
    if (!output)
        std::freopen("CONOUT$", "w", stdout);
    if (!errors)
        std::freopen("CONOUT$", "w", stderr);
}
#else
void ParentConsole::attach() { }
#endif

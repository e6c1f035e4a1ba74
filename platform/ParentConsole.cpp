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
    const bool output = leadsSomewhere(STD_OUTPUT_HANDLE);
    const bool errors = leadsSomewhere(STD_ERROR_HANDLE);
    if ((output && errors) || GetConsoleWindow() != nullptr)
        return;
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

#pragma once

// The Windows program is a GUI program, so that no console window opens for the operator. Run from a console
// (--headless, --help, a wrong command line), it writes to the console it was started from. Elsewhere, and where
// standard output and error are already redirected (a service wrapper, a pipe), nothing changes.
namespace ParentConsole {

// Attaches standard output and error to the console of the parent process where they lead nowhere. Safe to call
// more than once.
void attach();

} // namespace ParentConsole

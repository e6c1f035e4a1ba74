#pragma once

// The Windows program is a GUI program, so that no console window opens for the operator. Run from a console
// (--headless, --help, a wrong command line), it attaches to the console it was started from, so that Ctrl+C and the
// console's close reach it, and writes there what is not redirected elsewhere (a file, a pipe). Nothing happens
// where there is no such console, nor on other systems.
namespace ParentConsole {

// Attaches the program to the console of the parent process, and standard output and error to it where they lead
// nowhere. Safe to call more than once.
void attach();

} // namespace ParentConsole

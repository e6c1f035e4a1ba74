#pragma once

// Whether this machine offers a screen to show the operator window on.
namespace DisplayCheck {

// On X11 and Wayland there must be a display to show the window on, unless a Qt platform was chosen explicitly
// (offscreen, vnc); elsewhere the system always has one.
bool displayAvailable();

} // namespace DisplayCheck

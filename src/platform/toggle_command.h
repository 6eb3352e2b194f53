#pragma once

namespace skarnel {

// `skarnel --toggle`: ON or OFF in the generator window the user was in
// last, as the hot key Ctrl+Insert would toggle it, asked over the D-Bus
// session bus. For desktops where a program cannot grab a key of its own
// (Wayland): the user binds this command to a key in the desktop's keyboard
// settings. Needs a QCoreApplication. Returns the process's exit status and
// says on standard error why nothing was toggled.
int ToggleWindowUsedLast();

}  // namespace skarnel

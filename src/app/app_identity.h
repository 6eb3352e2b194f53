#pragma once

namespace skarnel {

// Names the program to the desktop: the application name "Skarnel" and the
// desktop entry "skarnel" (taskbars and window managers group and label the
// windows by these). No display name is set: Qt appends a display name to
// every window title (" — Skarnel" on X11 and Wayland), and the windows'
// titles are meant to stand alone, exactly as the program sets them.
void SetApplicationIdentity();

}  // namespace skarnel

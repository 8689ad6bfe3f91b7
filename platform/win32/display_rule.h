// Whether the window layer will find a display for its windows. The GUI
// library ends the process when it cannot reach the server it was pointed
// at, so the window layer asks this first; scripts/display-check asks the
// same code (through tools/display_check) before choosing what to start.
// Standard library and POSIX sockets only, so that the script can build it
// on its own.
#pragma once

#include <string>

namespace platform {

struct DisplayVerdict {
    bool usable = false;
    // Why not, in one line a user understands; empty when usable.
    std::string cause;
};

// Reads WAYLAND_DISPLAY (with XDG_RUNTIME_DIR), DISPLAY and QT_QPA_PLATFORM.
// A Wayland display counts when a compositor answers on its socket, an X
// display when its server accepts a connection. A DISPLAY whose form the X
// library would not read (":zero") cannot be reached; one in a form not
// checked here (no colon) is left to the GUI library. A platform plugin
// chosen by name other than xcb or wayland needs no display server.
DisplayVerdict checkDisplay();

}  // namespace platform

// The process entry: keeps argc/argv for the GUI library and hands over to
// the program's GUI entry function as the original platform would.
#include <string>

#include "platform/d3d9/driver_preload.h"
#include "platform/win32/display_rule.h"
#include "platform/win32/program_arguments.h"
#include "platform/win32/windows.h"

int main(int argc, char** argv) {
    platform::setProgramArguments(argc, argv);
    // The OpenGL driver loads while the program computes, but only when there
    // is a display to draw on: a start without one ends at once.
    if (platform::checkDisplay().usable)
        platform::hal::startGraphicsDriverPreload();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWDEFAULT);
}

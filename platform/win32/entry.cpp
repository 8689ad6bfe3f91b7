// The process entry: keeps argc/argv for the GUI library and hands over to
// the program's GUI entry function as the original platform would.
#include <string>

#include "platform/win32/windows.h"

namespace {
char moduleMarker;  // its address serves as the module instance handle
}

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(reinterpret_cast<HINSTANCE>(&moduleMarker), nullptr, commandLine.data(), SW_SHOWDEFAULT);
}

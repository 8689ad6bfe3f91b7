// The process entry: keeps argc/argv for the GUI library and hands over to
// the program's GUI entry function as the original platform would.
#include <string>

#include "platform/win32/program_arguments.h"
#include "platform/win32/windows.h"

int main(int argc, char** argv) {
    platform::setProgramArguments(argc, argv);
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWDEFAULT);
}

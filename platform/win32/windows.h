// The desktop platform's user-interface, registry, resource and timing calls,
// as the program makes them. Implemented on Qt 6 in this folder.
#pragma once

#include "platform/win32/wintypes.h"

#define SW_SHOWDEFAULT 10

// The program's GUI entry function; the layer's main() calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

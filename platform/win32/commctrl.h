// The common controls library; its one call the program makes,
// InitCommonControls, is declared with the window calls.
#pragma once

#include "platform/win32/windows.h"

// vibrolane-display-check: exits 0 when the program will find a display for
// its window, otherwise says why in one line on standard output and exits 1.
// scripts/display-check runs it, so that the script and the window layer
// apply one rule.
#include <cstdio>

#include "platform/win32/display_rule.h"

int main() {
    const platform::DisplayVerdict verdict = platform::checkDisplay();
    if (verdict.usable)
        return 0;
    std::printf("%s\n", verdict.cause.c_str());
    return 1;
}

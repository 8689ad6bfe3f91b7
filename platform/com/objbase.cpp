#include "platform/com/objbase.h"

#include <cstdio>

namespace {
// COM start-up belongs to a thread, as on the original platform.
thread_local int depth = 0;
}  // namespace

HRESULT WINAPI CoInitialize(LPVOID reserved) {
    if (reserved != nullptr)
        return E_INVALIDARG;
    return depth++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
    if (depth == 0) {
        // An unmatched call is the caller's bug; say so once rather than
        // letting the count go negative and hide the next start.
        static bool reported = false;
        if (!reported) {
            reported = true;
            std::fprintf(stderr, "CoUninitialize called without a matching CoInitialize\n");
        }
        return;
    }
    --depth;
}

namespace platform::com {
int initializationDepth() { return depth; }
}  // namespace platform::com

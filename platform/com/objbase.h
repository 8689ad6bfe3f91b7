// COM start-up of the desktop platform, shared by the input and sound layers.
// There is no component runtime behind it: the calls only count how often the
// thread has started COM, so that every successful CoInitialize is matched by
// one CoUninitialize as the program's holders expect.
#pragma once

#include "platform/win32/wintypes.h"

#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)

// S_OK on the thread's first start, S_FALSE when COM is already started on
// it; both must be matched by one CoUninitialize. `reserved` must be null
// (E_INVALIDARG otherwise, and nothing is counted).
HRESULT WINAPI CoInitialize(LPVOID reserved);
// Ends one start; a call without a start left is ignored.
void WINAPI CoUninitialize();

namespace platform::com {
// Starts not yet matched by CoUninitialize on this thread.
int initializationDepth();
}  // namespace platform::com

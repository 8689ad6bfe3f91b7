// The GUI library's keys as the virtual-key codes of the key messages. The
// keyboard's own scan codes, which the input layer reads, are not these.
#pragma once

#include "platform/win32/windows.h"

class QKeyEvent;

namespace platform::win32 {

// The virtual-key code of the event's key, telling the keypad's digits and
// operators from the main block's; 0 for a key the messages have no code for.
UINT virtualKey(const QKeyEvent* event);

// Whether the key sits in the keyboard's extended block (bit 24 of a key
// message's lParam).
bool isExtendedKey(UINT vk);

}  // namespace platform::win32

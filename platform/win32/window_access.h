// What the other platform modules (the 3-D device, input, GDI) may learn
// about the window layer's objects: the widget behind a window handle and the
// pictures behind icon and cursor handles.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "platform/win32/wintypes.h"

namespace platform {

// The top-level widget of a window, or null for an unknown handle.
QWidget* topLevelWidgetFor(HWND window);
// The widget behind a handle itself: a dialog's control, or a top-level window.
QWidget* widgetFor(HWND window);

// The pictures of an icon or cursor. A monochrome cursor has no colour image
// and a mask of twice its height: the AND mask above the XOR mask, one bit a
// pixel (Format_Mono, 1 = set); an icon or colour cursor has a colour image
// (ARGB32) and a mask of its own height. False for an unknown handle.
struct IconPictures {
    QImage mask;
    QImage colour;
    int hotSpotX = 0;
    int hotSpotY = 0;
    bool isIcon = true;
};
bool iconPicturesFor(HICON icon, IconPictures* pictures);

// True when the GUI library runs (a display, or the offscreen platform).
bool guiAvailable();

// Runs the program's message loop until `done` holds, as the platform's own
// modal windows do (dialogs, message boxes): posted messages keep flowing.
// A WM_QUIT ends it early and is posted again for the outer loop.
void runModalLoop(const std::function<bool()>& done);

// Key events and focus changes of a frame window's render surface, as the
// input layer's keyboard device needs them: every press and release with the
// window system's own key code (auto-repeats marked), and FocusOut whenever
// the surface stops receiving keys (another window, a popup) or FocusIn when
// it starts again.
struct KeyboardNotification {
    enum Kind { KeyDown, KeyUp, FocusIn, FocusOut };
    Kind kind = KeyDown;
    unsigned nativeScanCode = 0;  // 0 when the window system gave none
    int key = 0;                  // Qt::Key
    bool autoRepeat = false;
    bool keypad = false;
    unsigned long timestamp = 0;  // the window system's event time, in ms
};
using KeyboardListener = std::function<void(HWND window, const KeyboardNotification& notification)>;
// Listeners are called in the GUI library's event handler, in the order added.
int addKeyboardListener(KeyboardListener listener);
void removeKeyboardListener(int id);

}  // namespace platform

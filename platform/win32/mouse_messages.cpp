// The mouse messages beyond a press, a release and a move: the second press
// of a double click and the wheel.
#include <QWheelEvent>

#include "platform/win32/ui_internal.h"

namespace platform::win32 {

UINT doubleClickMessage(HWND window, Qt::MouseButton button) {
    const Window* w = findWindow(window);
    switch (button) {
    case Qt::LeftButton: return w && (w->windowClass.style & CS_DBLCLKS) ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
    case Qt::RightButton: return WM_RBUTTONDOWN;
    case Qt::MiddleButton: return WM_MBUTTONDOWN;
    default: return 0;
    }
}

void postWheel(HWND window, const QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    WORD keys = 0;
    if (event->buttons() & Qt::LeftButton) keys |= MK_LBUTTON;
    if (event->buttons() & Qt::RightButton) keys |= MK_RBUTTON;
    if (event->buttons() & Qt::MiddleButton) keys |= MK_MBUTTON;
    if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
    if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
    // Unlike the other mouse messages, the wheel's position is on the screen.
    const QPoint at = event->globalPosition().toPoint();
    postInput(window, WM_MOUSEWHEEL, MAKEWPARAM(keys, static_cast<short>(delta)),
              MAKELPARAM(static_cast<short>(at.x()), static_cast<short>(at.y())),
              static_cast<unsigned>(event->modifiers().toInt()));
}

}  // namespace platform::win32

// The screen's scale as the program sees it: client areas count device
// pixels, window rectangles the desktop's logical ones.
#include "platform/common/render_surface.h"
#include "platform/win32/ui_internal.h"

using namespace platform::win32;

BOOL WINAPI PhysicalToLogicalPointForPerMonitorDPI(HWND window, LPPOINT point) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !point)
        return FALSE;
    const qreal ratio = w->surface ? w->surface->devicePixelRatioF() : w->widget->devicePixelRatioF();
    // Rounded to the nearest, so that a logical length scaled to device
    // pixels and back is the length it was at any scale of 1 or more.
    *point = POINT{static_cast<LONG>(qRound(point->x / ratio)), static_cast<LONG>(qRound(point->y / ratio))};
    return TRUE;
}

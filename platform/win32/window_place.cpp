// Where windows stand: their rectangles and the window manager's
// decorations, placing and moving them onto a screen that shows them,
// client and screen coordinates, and the screen's metrics.
#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "platform/common/render_surface.h"
#include "platform/win32/frame_window.h"
#include "platform/win32/window_access.h"

using namespace platform::win32;

namespace {

QMargins frameMargins(const QWidget* widget) {
    if (!widget->isVisible())
        return QMargins();
    const QRect inner = widget->geometry();
    const QRect outer = widget->frameGeometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

// The decorations the window manager gives a top-level window, remembered
// while it has them.
QMargins decorationsOf(Window* w) {
    const QMargins now = frameMargins(w->widget);
    if (!now.isNull() && !(w->widget->windowState() & Qt::WindowFullScreen))
        w->decorations = now;
    return (w->widget->windowState() & Qt::WindowFullScreen) ? QMargins() : w->decorations;
}

// A place from which the title bar cannot be reached (a screen removed, a
// resolution lowered) becomes the nearest screen's, the whole window on it.
QPoint reachablePlace(const QRect& outer, const QMargins& decorations) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return outer.topLeft();
    const QRect titleBar(outer.left(), outer.top(), outer.width(), std::max(decorations.top(), 16));
    const QScreen* nearest = nullptr;
    long long nearestDistance = 0;
    for (const QScreen* screen : screens) {
        const QRect room = screen->availableGeometry();
        const QRect seen = room.intersected(titleBar);
        if (seen.width() >= std::min(32, outer.width()) && seen.top() == titleBar.top())
            return outer.topLeft();
        const QPoint d = room.center() - outer.center();
        const long long distance = 1LL * d.x() * d.x() + 1LL * d.y() * d.y();
        if (!nearest || distance < nearestDistance) {
            nearest = screen;
            nearestDistance = distance;
        }
    }
    const QRect room = nearest->availableGeometry();
    return QPoint(std::max(room.left(), std::min(outer.left(), room.right() + 1 - outer.width())),
                  std::max(room.top(), std::min(outer.top(), room.bottom() + 1 - outer.height())));
}

}  // namespace

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !rect)
        return FALSE;
    // A top-level window's rectangle is its frame's as the window manager
    // placed it, decorations included, so that SetWindowPos puts it back.
    QRect r;
    if (w->widget->isWindow())
        r = w->widget->geometry().marginsAdded(decorationsOf(w));
    else
        r = QRect(w->widget->mapToGlobal(QPoint(0, 0)), w->widget->size());
    *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !rect)
        return FALSE;
    const QSize size = w->frame ? w->frame->clientSize() : w->widget->size();
    *rect = RECT{0, 0, size.width(), size.height()};
    return TRUE;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD, BOOL hasMenu, DWORD) {
    if (!rect)
        return FALSE;
    if (hasMenu)
        rect->top -= menuBarHeight();
    return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL hasMenu) {
    return AdjustWindowRectEx(rect, style, hasMenu, 0);
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return FALSE;
    QWidget* widget = w->widget;
    if (w->frame)
        w->frame->beginProgrammaticChange();
    // The rectangle is the frame's, decorations included (GetWindowRect).
    const QMargins frame = widget->isWindow() ? decorationsOf(w) : QMargins();
    if (!(flags & SWP_NOSIZE)) {
        width -= frame.left() + frame.right();
        height -= frame.top() + frame.bottom();
        widget->resize(std::max(1, width), std::max(1, height));
    }
    // A window is moved only to a new place: one the window manager has not
    // placed yet is still where it was made, and moving it there would
    // pin it to the screen's corner.
    const QPoint current = widget->isWindow() ? widget->geometry().topLeft() - QPoint(frame.left(), frame.top())
                                              : widget->pos();
    if (!(flags & SWP_NOMOVE) && QPoint(x, y) != current) {
        QPoint place(x, y);
        if (widget->isWindow())
            place = reachablePlace(QRect(place, widget->size().grownBy(frame)), frame);
        // Placed by the client's corner, the frame's plus the decorations
        // last seen: just after full screen the window manager has not put
        // them back yet, and a frame position would then go to the client.
        if (widget->isWindow())
            widget->setGeometry(QRect(place + QPoint(frame.left(), frame.top()), widget->size()));
        else
            widget->move(place);
    }
    if (flags & SWP_SHOWWINDOW)
        widget->show();
    if (flags & SWP_HIDEWINDOW)
        widget->hide();
    if (!(flags & SWP_NOZORDER) && (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST) && widget->isVisible())
        widget->raise();
    if (w->frame && findWindow(window))
        w->frame->endProgrammaticChange();
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
    return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {
// Maps a point between the screen and the client area (the render surface
// where there is one), in place.
BOOL mapClientPoint(HWND window, LPPOINT point, bool toClient) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !point)
        return FALSE;
    QWidget* client = w->surface ? static_cast<QWidget*>(w->surface) : w->widget.data();
    const QPoint given(point->x, point->y);
    const QPoint p = toClient ? client->mapFromGlobal(given) : client->mapToGlobal(given);
    *point = POINT{p.x(), p.y()};
    return TRUE;
}
}  // namespace

BOOL WINAPI ScreenToClient(HWND window, LPPOINT point) { return mapClientPoint(window, point, true); }

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) { return mapClientPoint(window, point, false); }

int WINAPI GetSystemMetrics(int index) {
    QScreen* screen = ensureGui() ? QGuiApplication::primaryScreen() : nullptr;
    switch (index) {
    case SM_CXSCREEN: return screen ? screen->size().width() : 0;
    case SM_CYSCREEN: return screen ? screen->size().height() : 0;
    case SM_CXICON: case SM_CYICON: case SM_CXCURSOR: case SM_CYCURSOR: return 32;
    case SM_CYMENU: return menuBarHeight();
    case SM_CXMIN: case SM_CXMINTRACK: return 112;
    case SM_CYMIN: case SM_CYMINTRACK: return 27;
    case SM_CMONITORS: return screen ? static_cast<int>(QGuiApplication::screens().size()) : 0;
    default: return 0;
    }
}

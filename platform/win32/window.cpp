// Window classes, top-level windows, their styles and rectangles, and the
// translation of the GUI library's window events into messages.
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>
#include <map>

#include "platform/common/render_surface.h"
#include "platform/win32/frame_window.h"
#include "platform/win32/window_access.h"

namespace platform::win32 {

namespace {

// A resize followed by this long a pause ends the user's size-move loop.
constexpr int kQuietMilliseconds = 300;
// A state change (maximise, restore) is reported once the window manager has
// had this long to give the window its new size.
constexpr int kSettleMilliseconds = 120;

std::map<std::string, WindowClass>& classTable() {
    static std::map<std::string, WindowClass> table;
    return table;
}

std::string classKey(const char* name) { return QString::fromLatin1(name).toLower().toStdString(); }

UINT virtualKey(const QKeyEvent* event) {
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<UINT>('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return (event->modifiers() & Qt::KeypadModifier) ? static_cast<UINT>(VK_NUMPAD0 + (key - Qt::Key_0))
                                                          : static_cast<UINT>('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<UINT>(VK_F1 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_Print: return VK_SNAPSHOT;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: case Qt::Key_AltGr: return VK_MENU;
    case Qt::Key_Meta: return VK_LWIN;
    case Qt::Key_Menu: return VK_APPS;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Asterisk: return VK_MULTIPLY;
    case Qt::Key_Plus: return (event->modifiers() & Qt::KeypadModifier) ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Minus: return (event->modifiers() & Qt::KeypadModifier) ? VK_SUBTRACT : VK_OEM_MINUS;
    case Qt::Key_Slash: return (event->modifiers() & Qt::KeypadModifier) ? VK_DIVIDE : VK_OEM_2;
    case Qt::Key_Period: return (event->modifiers() & Qt::KeypadModifier) ? VK_DECIMAL : VK_OEM_PERIOD;
    case Qt::Key_Comma: return VK_OEM_COMMA;
    case Qt::Key_Semicolon: return VK_OEM_1;
    case Qt::Key_QuoteLeft: return VK_OEM_3;
    case Qt::Key_BracketLeft: return VK_OEM_4;
    case Qt::Key_Backslash: return VK_OEM_5;
    case Qt::Key_BracketRight: return VK_OEM_6;
    case Qt::Key_Apostrophe: return VK_OEM_7;
    case Qt::Key_Equal: return VK_OEM_PLUS;
    default: return 0;
    }
}

bool isExtendedKey(UINT vk) {
    switch (vk) {
    case VK_INSERT: case VK_DELETE: case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
    case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN: case VK_DIVIDE: case VK_LWIN: case VK_APPS:
        return true;
    default:
        return false;
    }
}

WPARAM mouseKeys(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    WPARAM keys = 0;
    if (buttons & Qt::LeftButton) keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton) keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
    return keys;
}

// The rectangle ClipCursor confines the pointer to, if any.
bool clipActive = false;
RECT clipRect{};

HCURSOR currentCursor = nullptr;
HWND cursorWindow = nullptr;
int cursorShowCount = 0;

void applyCursor() {
    Window* w = findWindow(cursorWindow);
    if (!w || !w->surface)
        return;
    if (cursorShowCount < 0 || !currentCursor)
        w->surface->setCursor(Qt::BlankCursor);
    else
        w->surface->setCursor(cursorFor(currentCursor));
}

bool appStateConnected = false;
bool appActive = false;

void connectApplicationState() {
    if (appStateConnected)
        return;
    appStateConnected = true;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState state) {
        const bool active = state == Qt::ApplicationActive;
        if (active == appActive)
            return;
        appActive = active;
        for (HWND handle : allWindows()) {
            Window* w = findWindow(handle);
            if (w && w->kind == WindowKind::Frame)
                sendFromEvent(handle, WM_ACTIVATEAPP, active ? TRUE : FALSE, 0);
        }
    });
}

QMargins frameMargins(const QWidget* widget) {
    if (!widget->isVisible())
        return QMargins();
    const QRect inner = widget->geometry();
    const QRect outer = widget->frameGeometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

std::vector<std::pair<int, platform::KeyboardListener>>& keyboardListeners() {
    static std::vector<std::pair<int, platform::KeyboardListener>> listeners;
    return listeners;
}

void notifyKeyboard(HWND handle, const platform::KeyboardNotification& notification) {
    // A listener may remove itself or others while being told.
    const auto listeners = keyboardListeners();
    for (const auto& entry : listeners)
        entry.second(handle, notification);
}

void notifyKey(HWND handle, const QKeyEvent* event, bool down) {
    platform::KeyboardNotification n;
    n.kind = down ? platform::KeyboardNotification::KeyDown : platform::KeyboardNotification::KeyUp;
    n.nativeScanCode = event->nativeScanCode();
    n.key = event->key();
    n.autoRepeat = event->isAutoRepeat();
    n.keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
    n.timestamp = event->timestamp();
    notifyKeyboard(handle, n);
}

void notifyFocus(HWND handle, bool in) {
    platform::KeyboardNotification n;
    n.kind = in ? platform::KeyboardNotification::FocusIn : platform::KeyboardNotification::FocusOut;
    notifyKeyboard(handle, n);
}

}  // namespace

// ---- FrameWindow ---------------------------------------------------------------------

FrameWindow::FrameWindow(HWND handle) : handle_(handle), surface_(new platform::RenderSurface(this)) {
    setCentralWidget(surface_);
    setFocusProxy(surface_);
    surface_->installEventFilter(this);
    quietTimer_.setSingleShot(true);
    settleTimer_.setSingleShot(true);
    QObject::connect(&quietTimer_, &QTimer::timeout, this, [this] {
        if (!inSizeMove_)
            return;
        inSizeMove_ = false;
        sendFromEvent(handle_, WM_EXITSIZEMOVE, 0, 0);
        // The resized client area is invalid once the sizing is over. The
        // WM_PAINT that brings is also what returns a GetMessage the program
        // waits in while paused for the sizing: without a message it would
        // go on waiting, showing the last frame stretched, until the user
        // touched a key or the mouse.
        InvalidateRect(handle_, nullptr, FALSE);
    });
    QObject::connect(&settleTimer_, &QTimer::timeout, this, [this] {
        settling_ = false;
        if (deviceOwnsGeometry() || fullScreenTransition_)
            lastClient_ = clientSize();
        else if (!(windowState() & Qt::WindowMinimized))
            sendSize(sizeKind());
        fullScreenTransition_ = false;
    });
    // A resize is looked at once the code that made it has finished, so that
    // the device's setGeometry-then-full-screen is seen as one change.
    resizeTimer_.setSingleShot(true);
    QObject::connect(&resizeTimer_, &QTimer::timeout, this, [this] { resizeSettled(); });
}

bool FrameWindow::deviceOwnsGeometry() const { return windowState() & Qt::WindowFullScreen; }

QSize FrameWindow::clientSize() const { return surface_->devicePixelSize(); }

WPARAM FrameWindow::sizeKind() const {
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized)
        return SIZE_MINIMIZED;
    if (state & Qt::WindowMaximized)
        return SIZE_MAXIMIZED;
    return SIZE_RESTORED;
}

void FrameWindow::sendSize(WPARAM kind) {
    lastClient_ = clientSize();
    const LPARAM size = kind == SIZE_MINIMIZED ? 0 : MAKELPARAM(lastClient_.width(), lastClient_.height());
    sendFromEvent(handle_, WM_SIZE, kind, size);
}

void FrameWindow::sendSizeIfChanged() {
    if (layout())
        layout()->activate();
    if (clientSize() != lastClient_ && !(windowState() & Qt::WindowMinimized))
        sendSize(sizeKind());
}

void FrameWindow::endProgrammaticChange() {
    if (--programmatic_ == 0)
        sendSizeIfChanged();
}

void FrameWindow::surfaceResized() {
    if (creating_ || programmatic_ > 0 || clientSize() == lastClient_ || (windowState() & Qt::WindowMinimized))
        return;
    if (settling_) {
        settleTimer_.start(kSettleMilliseconds);
        return;
    }
    resizeTimer_.start(0);
}

void FrameWindow::resizeSettled() {
    if (deviceOwnsGeometry() || settling_) {
        if (!settling_)
            lastClient_ = clientSize();
        return;
    }
    if (programmatic_ > 0 || clientSize() == lastClient_ || (windowState() & Qt::WindowMinimized))
        return;
    if (!inSizeMove_) {
        inSizeMove_ = true;
        sendFromEvent(handle_, WM_ENTERSIZEMOVE, 0, 0);
    }
    sendSize(sizeKind());
    quietTimer_.start(kQuietMilliseconds);
}

void FrameWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        notifyFocus(handle_, isActiveWindow() && surface_->hasFocus());
    if (event->type() != QEvent::WindowStateChange || creating_)
        return;
    const Qt::WindowStates old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    if ((old | windowState()) & Qt::WindowFullScreen) {
        fullScreenTransition_ = true;
        settling_ = true;
        settleTimer_.start(kSettleMilliseconds);
        return;
    }
    if (windowState() & Qt::WindowMinimized) {
        settling_ = false;
        settleTimer_.stop();
        sendSize(SIZE_MINIMIZED);
        lastClient_ = QSize();
    } else {
        settling_ = true;
        settleTimer_.start(kSettleMilliseconds);
    }
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    // The close box only asks; the window goes when the program destroys it.
    event->ignore();
    sendFromEvent(handle_, WM_CLOSE, 0, 0);
}

void FrameWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!exposeWatched_ && windowHandle()) {
        windowHandle()->installEventFilter(this);
        exposeWatched_ = true;
    }
}

void FrameWindow::menuLoop(bool entering) {
    if (entering) {
        if (menuDepth_++ == 0)
            sendFromEvent(handle_, WM_ENTERMENULOOP, FALSE, 0);
    } else if (menuDepth_ > 0 && --menuDepth_ == 0) {
        sendFromEvent(handle_, WM_EXITMENULOOP, FALSE, 0);
    }
}

void FrameWindow::key(QKeyEvent* event, bool down) {
    const UINT vk = virtualKey(event);
    if (vk == 0)
        return;
    if (!down && event->isAutoRepeat())
        return;
    const bool alt = (event->modifiers() & Qt::AltModifier) || vk == VK_MENU;
    LPARAM lParam = 1;
    lParam |= static_cast<LPARAM>(event->nativeScanCode() > 8 ? (event->nativeScanCode() - 8) & 0xFF : 0) << 16;
    if (isExtendedKey(vk))
        lParam |= LPARAM{1} << 24;
    if (alt && !(event->modifiers() & Qt::ControlModifier))
        lParam |= LPARAM{1} << 29;
    if (!down || event->isAutoRepeat())
        lParam |= LPARAM{1} << 30;
    if (!down)
        lParam |= LPARAM{1} << 31;
    const bool system = (alt && !(event->modifiers() & Qt::ControlModifier)) || vk == VK_F10;
    const UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    Qt::KeyboardModifiers modifiers = event->modifiers();
    // The modifier's own key event carries the state before it on some platforms.
    if (vk == VK_SHIFT) modifiers.setFlag(Qt::ShiftModifier, down);
    if (vk == VK_CONTROL) modifiers.setFlag(Qt::ControlModifier, down);
    if (vk == VK_MENU) modifiers.setFlag(Qt::AltModifier, down);
    postInput(handle_, message, vk, static_cast<LPARAM>(static_cast<DWORD>(lParam)),
              static_cast<unsigned>(modifiers.toInt()));
}

void FrameWindow::mouse(QMouseEvent* event, UINT message) {
    const QPoint p = event->position().toPoint();
    if (message == WM_MOUSEMOVE) {
        cursorWindow = handle_;
        if (sendFromEvent(handle_, WM_SETCURSOR, reinterpret_cast<WPARAM>(handle_),
                          MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)) == 0) {
            applyCursor();
        }
        if (clipActive) {
            const QPoint global = event->globalPosition().toPoint();
            const int x = std::clamp(global.x(), static_cast<int>(clipRect.left), static_cast<int>(clipRect.right) - 1);
            const int y = std::clamp(global.y(), static_cast<int>(clipRect.top), static_cast<int>(clipRect.bottom) - 1);
            if (x != global.x() || y != global.y())
                QCursor::setPos(x, y);
        }
    }
    postInput(handle_, message, mouseKeys(event->buttons(), event->modifiers()),
              MAKELPARAM(static_cast<short>(p.x()), static_cast<short>(p.y())),
              static_cast<unsigned>(event->modifiers().toInt()));
}

bool FrameWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle()) {
        if (event->type() == QEvent::Expose && windowHandle()->isExposed()) {
            if (Window* w = findWindow(handle_)) {
                w->needsPaint = true;
                wakeMessageLoop();
            }
        }
        return false;
    }
    if (watched != surface_)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        surfaceResized();
        break;
    case QEvent::ScreenChangeInternal:  // another screen may have another scale
        sendSizeIfChanged();
        break;
    case QEvent::KeyPress:
        notifyKey(handle_, static_cast<QKeyEvent*>(event), true);
        key(static_cast<QKeyEvent*>(event), true);
        break;
    case QEvent::KeyRelease:
        notifyKey(handle_, static_cast<QKeyEvent*>(event), false);
        key(static_cast<QKeyEvent*>(event), false);
        break;
    case QEvent::FocusIn:
        notifyFocus(handle_, true);
        break;
    case QEvent::FocusOut:
        notifyFocus(handle_, false);
        break;
    case QEvent::MouseMove:
        mouse(static_cast<QMouseEvent*>(event), WM_MOUSEMOVE);
        break;
    case QEvent::MouseButtonPress: {
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() == Qt::LeftButton) mouse(m, WM_LBUTTONDOWN);
        else if (m->button() == Qt::RightButton) mouse(m, WM_RBUTTONDOWN);
        else if (m->button() == Qt::MiddleButton) mouse(m, WM_MBUTTONDOWN);
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() == Qt::LeftButton) mouse(m, WM_LBUTTONUP);
        else if (m->button() == Qt::RightButton) mouse(m, WM_RBUTTONUP);
        else if (m->button() == Qt::MiddleButton) mouse(m, WM_MBUTTONUP);
        break;
    }
    case QEvent::Enter:
        cursorWindow = handle_;
        break;
    default:
        break;
    }
    // Other modules (input, the 3-D device) watch the same events.
    return false;
}

void setCursorWindow(HWND window) {
    cursorWindow = window;
    applyCursor();
}

}  // namespace platform::win32

using namespace platform::win32;

// ---- Classes -------------------------------------------------------------------------

namespace {
ATOM nextAtom = 0xC000;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* c) {
    if (!c || !c->lpszClassName || !c->lpfnWndProc)
        return 0;
    const std::string key = classKey(c->lpszClassName);
    if (classTable().count(key))
        return 0;
    WindowClass wc;
    wc.name = c->lpszClassName;
    wc.style = c->style;
    wc.procedure = c->lpfnWndProc;
    wc.instance = c->hInstance;
    wc.icon = c->hIcon;
    wc.cursor = c->hCursor;
    wc.background = c->hbrBackground;
    classTable()[key] = wc;
    return nextAtom++;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* c) {
    if (!c || c->cbSize != sizeof(WNDCLASSEXA))
        return 0;
    WNDCLASSA plain{c->style,   c->lpfnWndProc, c->cbClsExtra,    c->cbWndExtra,   c->hInstance,
                    c->hIcon,   c->hCursor,     c->hbrBackground, c->lpszMenuName, c->lpszClassName};
    return RegisterClassA(&plain);
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    if (!className)
        return FALSE;
    return classTable().erase(classKey(className)) ? TRUE : FALSE;
}

// ---- Creation and destruction -------------------------------------------------------------

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    if (!className)
        return nullptr;
    auto cls = classTable().find(classKey(className));
    if (cls == classTable().end() || !ensureGui())
        return nullptr;
    connectApplicationState();

    auto record = std::make_unique<Window>();
    record->kind = WindowKind::Frame;
    record->windowClass = cls->second;
    record->procedure = cls->second.procedure;
    record->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE | WS_DISABLED);
    record->exStyle = exStyle;
    record->parent = parent;
    const HWND handle = addWindow(std::move(record));
    Window* w = findWindow(handle);

    auto* frame = new FrameWindow(handle);
    frame->setCreating(true);
    w->widget = frame;
    w->frame = frame;
    w->surface = frame->surface();
    platform::registerRenderSurface(handle, frame->surface());
    frame->setWindowTitle(fromAnsi(windowName ? windowName : ""));
    if (w->windowClass.icon)
        frame->setWindowIcon(iconFor(w->windowClass.icon));
    if (menu && GetMenu(handle) == nullptr)
        SetMenu(handle, menu);
    frame->menuBar()->setVisible(menu != nullptr);

    MINMAXINFO limits{};
    const QSize screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size() : QSize(1024, 768);
    limits.ptMaxSize = {screen.width(), screen.height()};
    limits.ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
    limits.ptMaxTrackSize = {screen.width() * 4, screen.height() * 4};
    SendMessageA(handle, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    if (!findWindow(handle))
        return nullptr;
    frame->setMinimumSize(std::max<LONG>(1, limits.ptMinTrackSize.x), std::max<LONG>(1, limits.ptMinTrackSize.y));
    frame->setMaximumSize(std::min<LONG>(QWIDGETSIZE_MAX, limits.ptMaxTrackSize.x),
                          std::min<LONG>(QWIDGETSIZE_MAX, limits.ptMaxTrackSize.y));

    const int w0 = width == CW_USEDEFAULT ? 640 : std::max(1, width);
    const int h0 = width == CW_USEDEFAULT ? 480 : std::max(1, height);
    frame->resize(w0, h0);
    if (x != CW_USEDEFAULT)
        frame->move(x, y);
    if (frame->layout())
        frame->layout()->activate();

    CREATESTRUCTA create{param, instance, menu, parent, h0, w0, y, x, static_cast<LONG>(style), windowName,
                         className, exStyle};
    if (!SendMessageA(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (!findWindow(handle) || SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (!findWindow(handle))
        return nullptr;
    if (style & WS_VISIBLE) {
        SendMessageA(handle, WM_SHOWWINDOW, TRUE, 0);
        frame->show();
        frame->surface()->setFocus();
    }
    frame->setCreating(false);
    if (findWindow(handle))
        frame->sendSizeIfChanged();
    if (style & WS_MAXIMIZE)
        ShowWindow(handle, SW_MAXIMIZE);
    else if (style & WS_MINIMIZE)
        ShowWindow(handle, SW_MINIMIZE);
    return findWindow(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) {
    Window* w = findWindow(window);
    if (!w || w->procedure == nullptr)
        return FALSE;
    for (HWND child : std::vector<HWND>(w->children))
        DestroyWindow(child);
    SendMessageA(window, WM_DESTROY, 0, 0);
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    w = findWindow(window);
    if (!w)
        return TRUE;
    // A procedure that destroys the window again while it goes finds it gone.
    w->procedure = nullptr;
    if (w->kind == WindowKind::Frame) {
        platform::unregisterRenderSurface(window);
        if (w->menu) {
            HMENU menu = w->menu;
            w->menu = nullptr;
            forgetMenuOwner(menu, window);
            DestroyMenu(menu);
        }
    }
    if (Window* parent = findWindow(w->parent))
        std::erase(parent->children, window);
    QWidget* widget = w->kind == WindowKind::Control ? nullptr : w->widget.data();
    if (cursorWindow == window)
        cursorWindow = nullptr;
    removeWindow(window);
    retireWidget(widget);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(window);
    if (!w)
        return 0;
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT:
        w->needsPaint = false;
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && w->windowClass.cursor) {
            cursorWindow = window;
            SetCursor(w->windowClass.cursor);
            return TRUE;
        }
        return FALSE;
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4 && (lParam & (LPARAM{1} << 29)))
            SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(window, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(window, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(window, SW_MAXIMIZE); break;
        case SC_RESTORE: ShowWindow(window, SW_RESTORE); break;
        default: break;
        }
        return 0;
    case WM_SETTEXT:
        return SetWindowTextA(window, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT:
        return GetWindowTextA(window, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return w->widget ? static_cast<LRESULT>(toAnsi(w->widget->windowTitle()).size()) : 0;
    default:
        return 0;
    }
}

LRESULT WINAPI CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

// ---- State ----------------------------------------------------------------------------

BOOL WINAPI IsWindow(HWND window) { return findWindow(window) ? TRUE : FALSE; }

BOOL WINAPI IsWindowVisible(HWND window) {
    Window* w = findWindow(window);
    return w && w->widget && w->widget->isVisible() ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND window) {
    Window* w = findWindow(window);
    return w && w->frame && (w->frame->windowState() & Qt::WindowMinimized) ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND window) {
    Window* w = findWindow(window);
    return w && w->frame && (w->frame->windowState() & Qt::WindowMaximized) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return FALSE;
    QWidget* widget = w->widget;
    const BOOL wasVisible = widget->isVisible() ? TRUE : FALSE;
    switch (command) {
    case SW_HIDE:
        widget->hide();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        widget->showMinimized();
        break;
    case SW_MAXIMIZE:
        widget->showMaximized();
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
        if (widget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
            widget->showNormal();
        else
            widget->show();
        break;
    default:
        widget->show();
        break;
    }
    if (command != SW_HIDE && w->surface && widget->isVisible())
        w->surface->setFocus();
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    Window* w = findWindow(window);
    if (!w)
        return FALSE;
    if (w->needsPaint)
        SendMessageA(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL) {
    Window* w = findWindow(window);
    if (!w)
        return FALSE;
    w->needsPaint = true;
    wakeMessageLoop();
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT*) {
    Window* w = findWindow(window);
    if (!w)
        return FALSE;
    w->needsPaint = false;
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return FALSE;
    const BOOL wasDisabled = w->widget->isEnabled() ? FALSE : TRUE;
    w->widget->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* w = findWindow(window);
    return w && w->widget && w->widget->isEnabled() ? TRUE : FALSE;
}

namespace {
HWND handleOfWidget(const QWidget* widget) {
    if (!widget)
        return nullptr;
    for (HWND handle : allWindows()) {
        Window* w = findWindow(handle);
        if (w->widget == widget || (w->surface && w->surface == widget))
            return handle;
    }
    return nullptr;
}
}  // namespace

HWND WINAPI SetFocus(HWND window) {
    const HWND previous = GetFocus();
    Window* w = findWindow(window);
    if (w && w->widget) {
        if (w->surface)
            w->surface->setFocus();
        else
            w->widget->setFocus();
    }
    return previous;
}

HWND WINAPI GetFocus() { return ensureGui() ? handleOfWidget(QApplication::focusWidget()) : nullptr; }

HWND WINAPI GetActiveWindow() { return ensureGui() ? handleOfWidget(QApplication::activeWindow()) : nullptr; }

HWND WINAPI GetForegroundWindow() { return GetActiveWindow(); }

BOOL WINAPI SetForegroundWindow(HWND window) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return FALSE;
    w->widget->window()->raise();
    w->widget->window()->activateWindow();
    return TRUE;
}

HWND WINAPI GetParent(HWND window) {
    Window* w = findWindow(window);
    return w ? w->parent : nullptr;
}

HWND WINAPI GetDesktopWindow() { return reinterpret_cast<HWND>(std::uintptr_t{0x10000}); }

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Window* w = findWindow(window);
    if (!w || !w->widget)
        return FALSE;
    if (w->kind == WindowKind::Control)
        return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
    w->widget->setWindowTitle(fromAnsi(text ? text : ""));
    return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int bufferSize) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !buffer || bufferSize <= 0)
        return 0;
    if (w->kind == WindowKind::Control)
        return static_cast<int>(SendMessageA(window, WM_GETTEXT, bufferSize, reinterpret_cast<LPARAM>(buffer)));
    const std::string text = toAnsi(w->widget->windowTitle());
    const int n = std::min(static_cast<int>(text.size()), bufferSize - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

// ---- Long values -------------------------------------------------------------------------

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    Window* w = findWindow(window);
    if (!w)
        return 0;
    switch (index) {
    case GWL_STYLE: {
        DWORD style = w->style;
        if (w->widget) {
            if (w->widget->isVisible()) style |= WS_VISIBLE;
            if (!w->widget->isEnabled()) style |= WS_DISABLED;
            if (w->widget->windowState() & Qt::WindowMinimized) style |= WS_MINIMIZE;
            if (w->widget->windowState() & Qt::WindowMaximized) style |= WS_MAXIMIZE;
        }
        return static_cast<LONG>(style);
    }
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWLP_USERDATA: return w->userData;
    case GWLP_ID: return w->id;
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->procedure);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->windowClass.instance);
    case 0: return w->kind == WindowKind::Dialog ? w->dialogResultValue : 0;
    default: return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    Window* w = findWindow(window);
    if (!w)
        return 0;
    const LONG_PTR previous = GetWindowLongPtrA(window, index);
    switch (index) {
    case GWL_STYLE: {
        const DWORD style = static_cast<DWORD>(value);
        // The frame itself stays the window manager's: a full-screen window
        // loses it when the device takes the screen.
        w->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE | WS_DISABLED);
        if (w->widget) {
            if ((style & WS_VISIBLE) && !w->widget->isVisible())
                w->widget->show();
            else if (!(style & WS_VISIBLE) && w->widget->isVisible())
                w->widget->hide();
            w->widget->setEnabled(!(style & WS_DISABLED));
        }
        break;
    }
    case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(value); break;
    case GWLP_USERDATA: w->userData = value; break;
    case GWLP_ID: w->id = static_cast<int>(value); break;
    case GWLP_WNDPROC:
        if (w->kind == WindowKind::Frame)
            w->procedure = reinterpret_cast<WNDPROC>(value);
        break;
    case 0:
        if (w->kind == WindowKind::Dialog)
            w->dialogResultValue = value;
        break;
    default: return 0;
    }
    return previous;
}

LONG WINAPI GetWindowLongA(HWND window, int index) { return static_cast<LONG>(GetWindowLongPtrA(window, index)); }
LONG WINAPI SetWindowLongA(HWND window, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtrA(window, index, value));
}

ULONG_PTR WINAPI GetClassLongPtrA(HWND window, int index) {
    Window* w = findWindow(window);
    if (!w)
        return 0;
    switch (index) {
    case GCL_HCURSOR: return reinterpret_cast<ULONG_PTR>(w->windowClass.cursor);
    case GCL_HICON: return reinterpret_cast<ULONG_PTR>(w->windowClass.icon);
    default: return 0;
    }
}

DWORD WINAPI GetClassLongA(HWND window, int index) { return static_cast<DWORD>(GetClassLongPtrA(window, index)); }

// ---- Rectangles -----------------------------------------------------------------------------

namespace {

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

BOOL WINAPI ScreenToClient(HWND window, LPPOINT point) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !point)
        return FALSE;
    QWidget* client = w->surface ? static_cast<QWidget*>(w->surface) : w->widget.data();
    const QPoint p = client->mapFromGlobal(QPoint(point->x, point->y));
    *point = POINT{p.x(), p.y()};
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
    Window* w = findWindow(window);
    if (!w || !w->widget || !point)
        return FALSE;
    QWidget* client = w->surface ? static_cast<QWidget*>(w->surface) : w->widget.data();
    const QPoint p = client->mapToGlobal(QPoint(point->x, point->y));
    *point = POINT{p.x(), p.y()};
    return TRUE;
}

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

// ---- Cursor -------------------------------------------------------------------------------

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    const HCURSOR previous = currentCursor;
    currentCursor = cursor;
    applyCursor();
    return previous;
}

HCURSOR WINAPI GetCursor() { return currentCursor; }

int WINAPI ShowCursor(BOOL show) {
    cursorShowCount += show ? 1 : -1;
    applyCursor();
    return cursorShowCount;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (!point)
        return FALSE;
    QPoint p;
    if (QGuiApplication::instance() && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        p = QCursor::pos();
    *point = POINT{p.x(), p.y()};
    return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
    if (!ensureGui())
        return FALSE;
    QCursor::setPos(x, y);
    return TRUE;
}

BOOL WINAPI ClipCursor(const RECT* rect) {
    if (!rect) {
        clipActive = false;
        return TRUE;
    }
    if (rect->right <= rect->left || rect->bottom <= rect->top)
        return FALSE;
    clipActive = true;
    clipRect = *rect;
    return TRUE;
}

BOOL WINAPI GetClipCursor(LPRECT rect) {
    if (!rect)
        return FALSE;
    if (clipActive) {
        *rect = clipRect;
    } else {
        *rect = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return TRUE;
}

namespace platform {

int addKeyboardListener(KeyboardListener listener) {
    static int nextId = 0;
    win32::keyboardListeners().emplace_back(++nextId, std::move(listener));
    return nextId;
}

void removeKeyboardListener(int id) {
    auto& listeners = win32::keyboardListeners();
    for (auto it = listeners.begin(); it != listeners.end(); ++it) {
        if (it->first == id) {
            listeners.erase(it);
            return;
        }
    }
}

}  // namespace platform

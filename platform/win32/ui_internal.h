// Shared state of the window layer: the handle tables, the GUI library's
// availability, text conversion and resource lookup. Only the files of this
// layer include it.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

class QWheelEvent;
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/windows.h"
#include "platform/win32/resource_templates.h"

namespace platform {
class RenderSurface;
}

namespace platform::win32 {

class FrameWindow;
class DialogWindow;

// ---- GUI library ---------------------------------------------------------------

// Creates the QApplication on first use when a display can be had; false
// when there is none (the GUI is then unavailable for good).
bool ensureGui();

// The program's 8-bit text is Windows-1252, as in the code-page calls.
QString fromAnsi(const char* text, int length = -1);
std::string toAnsi(const QString& text);

// ---- Windows -------------------------------------------------------------------

enum class WindowKind { Frame, Dialog, Control };
enum class ControlKind { None, Button, Radio, GroupBox, Static, Combo };

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
};

struct Window {
    HWND handle = nullptr;
    WindowKind kind = WindowKind::Frame;
    ControlKind control = ControlKind::None;
    WNDPROC procedure = nullptr;
    DLGPROC dialogProcedure = nullptr;
    WindowClass windowClass;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR userData = 0;
    LONG_PTR dialogResultValue = 0;
    int id = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    QPointer<QWidget> widget;          // the top-level window or the control
    FrameWindow* frame = nullptr;      // frames only
    DialogWindow* dialog = nullptr;    // dialogs only
    platform::RenderSurface* surface = nullptr;
    std::vector<HWND> children;
    // The window manager's decorations as last seen: a window that has just
    // come back from full screen has none yet, and placing it by its outer
    // rectangle must not wait for them.
    QMargins decorations;
    bool needsPaint = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
};

Window* findWindow(HWND handle);
HWND addWindow(std::unique_ptr<Window> window);
// Forgets the handle; its widget is deleted once no event handler can still
// be using it.
void removeWindow(HWND handle);
std::vector<HWND> allWindows();

// Window procedures called from inside a GUI library event handler go
// through here, so that a window destroyed by its own procedure is deleted
// only after the handler has returned.
LRESULT sendFromEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void retireWidget(QWidget* widget);
void deleteRetiredWidgets();

// ---- Queue ----------------------------------------------------------------------

DWORD messageClock();
// Keyboard and mouse input joins the posted messages; mouse moves are merged
// while one is still waiting, as on the original.
// `modifiers` is the Qt::KeyboardModifiers state the event carried.
void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned modifiers);
// Runs a modal loop until `done` is true; a WM_QUIT seen meanwhile is posted
// again for the outer loop and ends the modal loop too.
void runModalLoop(const std::function<bool()>& done);
// Makes a waiting GetMessage look again (a modal loop's end, a paint request).
void wakeMessageLoop();

// ---- Resources ------------------------------------------------------------------

HINSTANCE programModule();
const ResourceEntry* findResource(HMODULE module, LPCSTR name, LPCSTR type);
const MenuItemTemplate* menuTemplate(LPCSTR name, std::size_t* count);

// ---- Menus, icons, cursors -------------------------------------------------------

// Builds the window's menu bar from its menu (none: the bar is hidden).
void buildMenuBar(Window& window);
void forgetMenuOwner(HMENU menu, HWND window);
QIcon iconFor(HICON icon);
// The cursor to show for a handle; null hides the pointer.
QCursor cursorFor(HCURSOR cursor);
// Applies the cursor SetCursor chose to the window the pointer is over.
void setCursorWindow(HWND window);

// ---- Mouse -----------------------------------------------------------------------

// The message for the second press of a double click: WM_LBUTTONDBLCLK for a
// window whose class asks for double clicks (CS_DBLCLKS), the plain press
// otherwise; 0 for a button without messages.
UINT doubleClickMessage(HWND window, Qt::MouseButton button);
// Posts WM_MOUSEWHEEL for a wheel turn (nothing for a sideways one).
void postWheel(HWND window, const QWheelEvent* event);

// Client-area height the menu bar takes in AdjustWindowRect.
int menuBarHeight();

}  // namespace platform::win32

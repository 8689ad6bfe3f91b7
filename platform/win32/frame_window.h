// The top-level window behind a window handle: a main window with the menu
// bar and the render surface, turning the GUI library's events into the
// messages the program's window procedure expects.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include "platform/win32/ui_internal.h"

namespace platform::win32 {

class FrameWindow : public QMainWindow {
public:
    explicit FrameWindow(HWND handle);

    platform::RenderSurface* surface() const { return surface_; }

    // Size changes the program makes itself (SetWindowPos, SetMenu) send a
    // plain WM_SIZE; other ones are the user's and are wrapped in
    // WM_ENTERSIZEMOVE / WM_EXITSIZEMOVE, ended by a quiet period. While the
    // 3-D device holds the window full screen its geometry is the device's
    // and sends nothing, as the original's mode switches happen while the
    // program ignores size changes.
    void beginProgrammaticChange() { ++programmatic_; }
    void endProgrammaticChange();
    void setCreating(bool creating) { creating_ = creating; }
    void sendSizeIfChanged();
    void menuLoop(bool entering);
    // In device pixels, like the back buffer drawn into it (GetClientRect,
    // WM_SIZE). The window's rectangle stays in the desktop's logical
    // coordinates, where the window manager and the stored window size count.
    QSize clientSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void sendSize(WPARAM kind);
    WPARAM sizeKind() const;
    void surfaceResized();
    void resizeSettled();
    bool deviceOwnsGeometry() const;
    void key(QKeyEvent* event, bool down);
    void mouse(QMouseEvent* event, UINT message);

    HWND handle_;
    platform::RenderSurface* surface_;
    QTimer quietTimer_;
    QTimer settleTimer_;
    QTimer resizeTimer_;
    QSize lastClient_;
    int programmatic_ = 0;
    int menuDepth_ = 0;
    bool creating_ = false;
    bool inSizeMove_ = false;
    bool settling_ = false;
    bool fullScreenTransition_ = false;
    bool exposeWatched_ = false;
};

}  // namespace platform::win32

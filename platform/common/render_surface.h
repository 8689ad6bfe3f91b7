// The client area of a top-level window: the widget the 3-D device presents
// into and where the window's key and mouse input arrives. The window layer
// creates one per window and registers it under the window's handle; the
// device layer looks it up by the handle it was given.
#pragma once

#include <QImage>
#include <QRect>
#include <QSurfaceFormat>
#include <QWidget>

#include "platform/win32/wintypes.h"

class QWindow;

namespace platform {

class RenderSurface : public QWidget {
public:
    explicit RenderSurface(QWidget* parent = nullptr);

    // The client area in the screen's own pixels: what a back buffer that
    // fills it must hold (the widget's size times the screen's scale).
    QSize devicePixelSize() const;

    // Shows the `source` part of `image` stretched over `dest` (device
    // pixels) and repaints before returning, so a presented frame is on
    // screen when the device's Present returns. Empty rects mean "all".
    // The OpenGL window (below) goes out of sight unless `keepGlWindow`:
    // the picture is then only a stand-in until that window can show.
    void presentImage(const QImage& image, const QRect& source = QRect(), const QRect& dest = QRect(),
                      bool keepGlWindow = false);

    // The last presented frame as shown, for tests and snapshots.
    const QImage& presentedImage() const { return image_; }

    // A native child window of OpenGL surface type covering the client
    // area, for a device that swaps its frames straight onto the screen.
    // It is made on first use, and made again when `format` asks for
    // another swap interval (the driver takes that when the window is
    // made). It takes no input and no focus: keys and the mouse still
    // arrive here. Null where the platform has no OpenGL windows.
    QWindow* glWindow(const QSurfaceFormat& format);
    // Brings the OpenGL window into sight over the presented picture.
    void showGlWindow();
    // Whether the OpenGL window, made with `format`'s swap interval, is in
    // sight and the window system has mapped it, so that a swap reaches the
    // screen.
    bool glWindowShowing(const QSurfaceFormat& format) const;
    // What the screen shows of the client area, in device pixels, read from
    // the window system: the OpenGL window's contents where it is in sight.
    // For tests and tools; far too slow for every frame.
    QImage grabShown() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void hideGlWindow();

    QImage image_;
    QRect source_;
    QRect dest_;
    QWindow* glWindow_ = nullptr;
    QWidget* glContainer_ = nullptr;
    int glSwapInterval_ = -1;
};

void registerRenderSurface(HWND window, RenderSurface* surface);
void unregisterRenderSurface(HWND window);
// Null when the handle names no window with a render surface.
RenderSurface* renderSurfaceFor(HWND window);

}  // namespace platform

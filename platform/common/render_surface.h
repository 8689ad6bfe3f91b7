// The client area of a top-level window: the widget the 3-D device presents
// into and where the window's key and mouse input arrives. The window layer
// creates one per window and registers it under the window's handle; the
// device layer looks it up by the handle it was given.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include "platform/win32/wintypes.h"

namespace platform {

class RenderSurface : public QWidget {
public:
    explicit RenderSurface(QWidget* parent = nullptr);

    // The client area in device pixels: the window's size times the screen's
    // scale. The device draws at this size, so that nothing is stretched on a
    // high-resolution screen.
    QSize devicePixelSize() const;

    // Shows the `source` part of `image` stretched over `dest` (device
    // pixels of the client area) and repaints before returning, so a
    // presented frame is on screen when the device's Present returns. Empty
    // rects mean "all".
    void presentImage(const QImage& image, const QRect& source = QRect(), const QRect& dest = QRect());

    // The last presented frame as shown, for tests and snapshots.
    const QImage& presentedImage() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QRect source_;
    QRect dest_;
};

void registerRenderSurface(HWND window, RenderSurface* surface);
void unregisterRenderSurface(HWND window);
// Null when the handle names no window with a render surface.
RenderSurface* renderSurfaceFor(HWND window);

}  // namespace platform

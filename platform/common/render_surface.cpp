#include "platform/common/render_surface.h"

#include <QPainter>
#include <unordered_map>

namespace platform {

RenderSurface::RenderSurface(QWidget* parent) : QWidget(parent) {
    // The device paints every pixel; letting Qt clear first only flickers.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
}

QSize RenderSurface::devicePixelSize() const { return size() * devicePixelRatioF(); }

void RenderSurface::presentImage(const QImage& image, const QRect& source, const QRect& dest) {
    image_ = image;
    source_ = source;
    dest_ = dest;
    if (isVisible())
        repaint();
}

void RenderSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The frame's pixels are the screen's own: painted in device pixels they
    // are copied one to one instead of being stretched by the screen's scale.
    const qreal ratio = devicePixelRatioF();
    if (ratio != 1.0)
        painter.scale(1.0 / ratio, 1.0 / ratio);
    const QRect all(QPoint(0, 0), devicePixelSize());
    if (image_.isNull()) {
        painter.fillRect(all, Qt::black);
        return;
    }
    const QRect src = source_.isEmpty() ? image_.rect() : source_;
    const QRect dst = dest_.isEmpty() ? all : dest_;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, src.size() != dst.size());
    painter.drawImage(dst, image_, src);
}

namespace {
std::unordered_map<HWND, RenderSurface*>& surfaces() {
    static std::unordered_map<HWND, RenderSurface*> map;
    return map;
}
}  // namespace

void registerRenderSurface(HWND window, RenderSurface* surface) { surfaces()[window] = surface; }

void unregisterRenderSurface(HWND window) { surfaces().erase(window); }

RenderSurface* renderSurfaceFor(HWND window) {
    auto it = surfaces().find(window);
    return it == surfaces().end() ? nullptr : it->second;
}

}  // namespace platform

#include "platform/common/render_surface.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
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

void RenderSurface::presentImage(const QImage& image, const QRect& source, const QRect& dest, bool keepGlWindow) {
    image_ = image;
    source_ = source;
    dest_ = dest;
    if (!keepGlWindow)
        hideGlWindow();
    if (isVisible())
        repaint();
}

QWindow* RenderSurface::glWindow(const QSurfaceFormat& format) {
    // Platforms that only pretend to have a screen have no window to swap to.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return nullptr;
    if (glWindow_ && glSwapInterval_ == format.swapInterval())
        return glWindow_;
    const bool wasShown = glContainer_ && glContainer_->isVisible();
    delete glContainer_;  // takes the old window with it
    glContainer_ = nullptr;
    glWindow_ = nullptr;

    auto* window = new QWindow;
    window->setSurfaceType(QSurface::OpenGLSurface);
    window->setFormat(format);
    // Input stays with this widget, which the window layer watches; the
    // window system hands clicks through to it and never focuses the child.
    window->setFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    QWidget* container = QWidget::createWindowContainer(window, this);
    container->setAttribute(Qt::WA_TransparentForMouseEvents);
    container->setFocusPolicy(Qt::NoFocus);
    container->setGeometry(rect());
    container->setVisible(wasShown);
    glContainer_ = container;
    glWindow_ = window;
    glSwapInterval_ = format.swapInterval();
    return glWindow_;
}

void RenderSurface::showGlWindow() {
    if (glContainer_ && !glContainer_->isVisible())
        glContainer_->show();
}

void RenderSurface::hideGlWindow() {
    if (glContainer_ && glContainer_->isVisible())
        glContainer_->hide();
}

bool RenderSurface::glWindowShowing(const QSurfaceFormat& format) const {
    return glContainer_ && glContainer_->isVisible() && glWindow_->isExposed() &&
           glSwapInterval_ == format.swapInterval();
}

QImage RenderSurface::grabShown() const {
    QWidget* top = window();
    QScreen* shownOn = top->screen();
    if (!isVisible() || !shownOn)
        return QImage();
    const QPoint at = mapTo(top, QPoint(0, 0));
    return shownOn->grabWindow(top->winId(), at.x(), at.y(), width(), height()).toImage();
}

void RenderSurface::resizeEvent(QResizeEvent*) {
    if (glContainer_)
        glContainer_->setGeometry(rect());
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

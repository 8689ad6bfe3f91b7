// Device contexts of windows, for text the program draws straight onto a
// window before the 3-D device exists (the loading message).
#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <map>

#include "platform/common/render_surface.h"
#include "platform/win32/ui_internal.h"

namespace platform::win32 {
namespace {

struct WindowContext {
    HWND window = nullptr;  // null: the screen
};

std::map<HDC, WindowContext>& contexts() {
    static std::map<HDC, WindowContext> table;
    return table;
}
std::uintptr_t nextContextHandle = 0x50010;

int alignmentFlags(UINT format) {
    int flags = 0;
    if (format & DT_CENTER)
        flags |= Qt::AlignHCenter;
    else if (format & DT_RIGHT)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER)
            flags |= Qt::AlignVCenter;
        else if (format & DT_BOTTOM)
            flags |= Qt::AlignBottom;
        else
            flags |= Qt::AlignTop;
    } else {
        flags |= Qt::AlignTop;
    }
    if (format & DT_WORDBREAK)
        flags |= Qt::TextWordWrap;
    if (format & DT_EXPANDTABS)
        flags |= Qt::TextExpandTabs;
    if (!(format & DT_NOPREFIX))
        flags |= Qt::TextShowMnemonic;
    return flags;
}

}  // namespace
}  // namespace platform::win32

using namespace platform::win32;

HDC WINAPI GetDC(HWND window) {
    if (window && !findWindow(window))
        return nullptr;
    HDC handle = reinterpret_cast<HDC>(nextContextHandle);
    nextContextHandle += 0x10;
    contexts()[handle] = WindowContext{window};
    return handle;
}

int WINAPI ReleaseDC(HWND, HDC context) { return contexts().erase(context) ? 1 : 0; }

int WINAPI DrawTextA(HDC context, LPCSTR text, int length, LPRECT rect, UINT format) {
    auto it = contexts().find(context);
    if (it == contexts().end() || !text || !rect || !ensureGui())
        return 0;
    Window* w = findWindow(it->second.window);
    QString string = fromAnsi(text, length);
    if (format & DT_SINGLELINE)
        string.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    // The rectangle counts the client area's device pixels; the text is laid
    // out in logical ones, so that it keeps its size on a scaled screen.
    const qreal ratio = w && w->surface ? w->surface->devicePixelRatioF() : 1.0;
    const QRect area = QRectF(rect->left / ratio, rect->top / ratio, (rect->right - rect->left) / ratio,
                              (rect->bottom - rect->top) / ratio)
                           .toAlignedRect();
    const int flags = alignmentFlags(format);
    const QRect logicalBounds = metrics.boundingRect(area, flags, string);
    const QRect bounds(logicalBounds.topLeft() * ratio, logicalBounds.size() * ratio);
    if (format & DT_CALCRECT) {
        rect->right = rect->left + bounds.width();
        rect->bottom = rect->top + bounds.height();
        return bounds.height();
    }
    if (!w || !w->surface)
        return bounds.height();
    // The window shows what was last presented; without a picture yet it
    // shows the class background, white as the program asks for.
    const QSize client = w->surface->devicePixelSize();
    QImage image = w->surface->presentedImage();
    if (image.size() != client || image.isNull()) {
        image = QImage(client.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        image.fill(Qt::white);
    } else {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    image.setDevicePixelRatio(ratio);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        if (!(format & DT_NOCLIP))
            painter.setClipRect(area);
        painter.drawText(area, flags, string);
    }
    w->surface->presentImage(image);
    return bounds.height();
}

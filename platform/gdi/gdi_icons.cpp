// GetIconInfo: the window layer keeps the pictures of icons and cursors; this
// hands out bitmap copies of them. Kept apart so that programs without the
// window layer can use the rest of GDI.
#include <QImage>

#include <vector>

#include "platform/gdi/gdi_internal.h"
#include "platform/gdi/wingdi.h"
#include "platform/win32/window_access.h"

namespace {

HBITMAP bitmapFromImage(const QImage& image, int bitsPerPixel) {
    if (image.isNull())
        return nullptr;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(image.width()) * image.height());
    if (bitsPerPixel == 1) {
        const QImage mono = image.convertToFormat(QImage::Format_Mono);
        for (int y = 0; y < mono.height(); ++y)
            for (int x = 0; x < mono.width(); ++x)
                pixels[static_cast<std::size_t>(y) * mono.width() + x] = mono.pixelIndex(x, y) != 0 ? 0x00FFFFFFu : 0u;
    } else {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height(); ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(argb.constScanLine(y));
            std::copy(row, row + argb.width(), pixels.begin() + static_cast<std::ptrdiff_t>(y) * argb.width());
        }
    }
    return platform::gdi::adoptPixels(image.width(), image.height(), bitsPerPixel, pixels.data());
}

}  // namespace

BOOL WINAPI GetIconInfo(HICON icon, PICONINFO info) {
    platform::IconPictures pictures;
    if (info == nullptr || !platform::iconPicturesFor(icon, &pictures) || pictures.mask.isNull())
        return FALSE;
    HBITMAP mask = bitmapFromImage(pictures.mask, 1);
    HBITMAP colour = pictures.colour.isNull() ? nullptr : bitmapFromImage(pictures.colour, 32);
    if (mask == nullptr || (!pictures.colour.isNull() && colour == nullptr)) {
        DeleteObject(mask);
        DeleteObject(colour);
        return FALSE;
    }
    info->fIcon = pictures.isIcon ? TRUE : FALSE;
    info->xHotspot = static_cast<DWORD>(pictures.hotSpotX);
    info->yHotspot = static_cast<DWORD>(pictures.hotSpotY);
    info->hbmMask = mask;
    info->hbmColor = colour;
    return TRUE;
}

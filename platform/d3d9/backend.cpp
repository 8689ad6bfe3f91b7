#include "platform/d3d9/backend.h"

#include <QImage>
#include <QRect>

#include "platform/common/render_surface.h"

namespace platform::d3d9 {

D3DMATRIX multiplyTransforms(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

HRESULT Backend::present(RenderSurface* surface, const BufferSetup& buffers, const QRect& source, const QRect& dest) {
    return presentByReadBack(surface, buffers, source, dest, false);
}

HRESULT Backend::presentByReadBack(RenderSurface* surface, const BufferSetup& buffers, const QRect& source,
                                   const QRect& dest, bool keepGlWindow) {
    if (!surface || buffers.width == 0 || buffers.height == 0)
        return D3D_OK;
    // QImage answers a failed allocation with a null image, not an exception.
    QImage image(int(buffers.width), int(buffers.height), QImage::Format_RGB32);
    if (image.isNull())
        return E_OUTOFMEMORY;
    const HRESULT read = readBackBuffer(reinterpret_cast<DWORD*>(image.bits()), UINT(image.bytesPerLine()));
    if (FAILED(read))
        return read;
    // The window shows colour only: the alpha a back buffer may hold (zero
    // where the clear colour has none) would otherwise let the desktop show
    // through where the window's own surface keeps alpha, as under Wayland.
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<DWORD*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    surface->presentImage(image, source, dest, keepGlWindow);
    return D3D_OK;
}

}  // namespace platform::d3d9

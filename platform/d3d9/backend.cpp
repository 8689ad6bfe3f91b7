#include "platform/d3d9/backend.h"

#include <QImage>
#include <QRect>

#include "platform/common/render_surface.h"

namespace platform::d3d9 {

HRESULT Backend::present(RenderSurface* surface, const BufferSetup& buffers, const QRect& source, const QRect& dest) {
    if (!surface || buffers.width == 0 || buffers.height == 0)
        return D3D_OK;
    QImage image(int(buffers.width), int(buffers.height), QImage::Format_RGB32);
    readBackBuffer(reinterpret_cast<DWORD*>(image.bits()), UINT(image.bytesPerLine()));
    surface->presentImage(image, source, dest);
    return D3D_OK;
}

}  // namespace platform::d3d9

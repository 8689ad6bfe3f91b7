// REF's textures: each decoded once to 0xAARRGGBB words, and sampled.
#include "platform/d3d9/ref_pipeline.h"

#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

// The texel formats the device creates textures in, widened to 8 bits per
// channel by rounding.
std::uint32_t expand(std::uint32_t v, int bits) {
    const std::uint32_t max = (1u << bits) - 1;
    return (v * 255 + max / 2) / max;
}

std::uint32_t decodeTexel(D3DFORMAT format, const BYTE* p) {
    switch (format) {
    case D3DFMT_A8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case D3DFMT_X8R8G8B8: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v | 0xFF000000u;
    }
    case D3DFMT_A4R4G4B4: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return (expand(v >> 12, 4) << 24) | (expand((v >> 8) & 0xF, 4) << 16) | (expand((v >> 4) & 0xF, 4) << 8) |
               expand(v & 0xF, 4);
    }
    case D3DFMT_X4R4G4B4: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return 0xFF000000u | (expand((v >> 8) & 0xF, 4) << 16) | (expand((v >> 4) & 0xF, 4) << 8) | expand(v & 0xF, 4);
    }
    case D3DFMT_R5G6B5: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return 0xFF000000u | (expand(v >> 11, 5) << 16) | (expand((v >> 5) & 0x3F, 6) << 8) | expand(v & 0x1F, 5);
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        const std::uint32_t a = (format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xFFu : 0u;
        return (a << 24) | (expand((v >> 10) & 0x1F, 5) << 16) | (expand((v >> 5) & 0x1F, 5) << 8) |
               expand(v & 0x1F, 5);
    }
    default: return 0xFF000000u;
    }
}

UINT bytesPerTexel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    default: return 2;
    }
}

}  // namespace

const RefRasterizer::Texels* RefRasterizer::texelsFor(const TextureData* texture) {
    if (!texture || !texture->bits || texture->width == 0 || texture->height == 0)
        return nullptr;
    Texels& t = textures_[texture->id];
    if (t.version != texture->version || t.width != texture->width || t.height != texture->height) {
        t.width = texture->width;
        t.height = texture->height;
        t.argb.resize(size_t(t.width) * t.height);
        const UINT bpp = bytesPerTexel(texture->format);
        for (UINT y = 0; y < t.height; ++y) {
            const BYTE* row = texture->bits + size_t(y) * texture->pitch;
            for (UINT x = 0; x < t.width; ++x)
                t.argb[size_t(y) * t.width + x] = decodeTexel(texture->format, row + x * bpp);
        }
        t.opaqueBefore.clear();
        if (t.width < 0xFFFF) {
            t.opaqueBefore.resize(size_t(t.width + 1) * t.height);
            for (UINT y = 0; y < t.height; ++y) {
                const std::uint32_t* texel = t.argb.data() + size_t(y) * t.width;
                std::uint16_t* count = t.opaqueBefore.data() + size_t(y) * (t.width + 1);
                count[0] = 0;
                for (UINT x = 0; x < t.width; ++x)
                    count[x + 1] = std::uint16_t(count[x] + ((texel[x] >> 24) != 0 ? 1 : 0));
            }
        }
        t.version = texture->version;
    }
    return &t;
}

namespace ref {

void sample(const RefRasterizer::Texels& t, float u, float v, bool linear, DWORD addressU, DWORD addressV,
            float out[4]) {
    const int w = int(t.width), h = int(t.height);
    if (!linear) {
        const int x = wrapCoord(int(std::floor(u * float(w))), w, addressU);
        const int y = wrapCoord(int(std::floor(v * float(h))), h, addressV);
        unpack(t.argb[size_t(y) * w + x], out);
        return;
    }
    const float fu = u * float(w) - 0.5f, fv = v * float(h) - 0.5f;
    const float x0f = std::floor(fu), y0f = std::floor(fv);
    const float ax = fu - x0f, ay = fv - y0f;
    const int x0 = wrapCoord(int(x0f), w, addressU), x1 = wrapCoord(int(x0f) + 1, w, addressU);
    const int y0 = wrapCoord(int(y0f), h, addressV), y1 = wrapCoord(int(y0f) + 1, h, addressV);
    float c00[4], c10[4], c01[4], c11[4];
    unpack(t.argb[size_t(y0) * w + x0], c00);
    unpack(t.argb[size_t(y0) * w + x1], c10);
    unpack(t.argb[size_t(y1) * w + x0], c01);
    unpack(t.argb[size_t(y1) * w + x1], c11);
    for (int k = 0; k < 4; ++k) {
        const float top = c00[k] + (c10[k] - c00[k]) * ax;
        const float bottom = c01[k] + (c11[k] - c01[k]) * ax;
        out[k] = top + (bottom - top) * ay;
    }
}

}  // namespace ref

}  // namespace platform::d3d9

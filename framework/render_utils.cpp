#include "framework/render_utils.h"

#include <cstring>
#include <memory>

#include "math/matrix_functions.h"

void InitMaterial(D3DMATERIAL9& material, float r, float g, float b, float a) {
    std::memset(&material, 0, sizeof material);
    material.Diffuse.r = material.Ambient.r = r;
    material.Diffuse.g = material.Ambient.g = g;
    material.Diffuse.b = material.Ambient.b = b;
    material.Diffuse.a = material.Ambient.a = a;
}

void InitLight(D3DLIGHT9& light, D3DLIGHTTYPE type, float x, float y, float z) {
    std::memset(&light, 0, sizeof light);
    light.Type = type;
    light.Diffuse.r = 1.0f;
    light.Diffuse.g = 1.0f;
    light.Diffuse.b = 1.0f;
    D3DXVECTOR3 position(x, y, z);
    D3DXVECTOR3 direction;
    D3DXVec3Normalize(&direction, &position);
    light.Position = position;
    light.Direction = direction;
    light.Range = 1000.0f;
}

namespace {

// Five rows of the mark, bit 15 being the leftmost of its 12 columns.
const WORD watermark[5] = {0xCCC0, 0xA2A0, 0xA4A0, 0xA2A0, 0xCCC0};

// Reads all rows of a bitmap as a 32-bit bottom-up DIB.
bool ReadBitmapRows(HDC context, HBITMAP bitmap, LONG width, LONG rows, DWORD* pixels) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = rows;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return GetDIBits(context, bitmap, 0, static_cast<UINT>(rows), pixels, &info, DIB_RGB_COLORS) == rows;
}

}  // namespace

HRESULT SetDeviceCursor(IDirect3DDevice9* device, HCURSOR cursor, bool addWatermark) {
    HRESULT hr = E_FAIL;
    ICONINFO iconInfo;
    std::memset(&iconInfo, 0, sizeof iconInfo);
    BITMAP maskBitmap;
    IDirect3DSurface9* surface = nullptr;
    HDC screenContext = nullptr;
    HDC maskContext = nullptr;
    HDC colourContext = nullptr;
    std::unique_ptr<DWORD[]> maskPixels;
    std::unique_ptr<DWORD[]> colourPixels;
    bool monochrome = false;
    LONG width = 0;
    LONG height = 0;
    D3DLOCKED_RECT locked;

    if (device == nullptr)
        return E_INVALIDARG;
    if (!GetIconInfo(cursor, &iconInfo))
        goto End;
    if (GetObject(iconInfo.hbmMask, sizeof(BITMAP), &maskBitmap) == 0)
        goto End;

    width = maskBitmap.bmWidth;
    monochrome = iconInfo.hbmColor == nullptr;
    height = monochrome ? maskBitmap.bmHeight / 2 : maskBitmap.bmHeight;
    if (width <= 0 || height <= 0)
        goto End;

    hr = device->CreateOffscreenPlainSurface(static_cast<UINT>(width), static_cast<UINT>(height), D3DFMT_A8R8G8B8,
                                             D3DPOOL_SCRATCH, &surface, nullptr);
    if (FAILED(hr))
        goto End;

    hr = E_FAIL;
    maskPixels.reset(new (std::nothrow) DWORD[static_cast<std::size_t>(width) * maskBitmap.bmHeight]);
    if (!maskPixels)
        goto End;
    screenContext = GetDC(nullptr);
    maskContext = CreateCompatibleDC(screenContext);
    if (maskContext == nullptr)
        goto End;
    // A bitmap that cannot be read would otherwise leave the cursor built
    // from whatever the buffers held.
    if (!ReadBitmapRows(maskContext, iconInfo.hbmMask, width, maskBitmap.bmHeight, maskPixels.get()))
        goto End;
    if (!monochrome) {
        colourPixels.reset(new (std::nothrow) DWORD[static_cast<std::size_t>(width) * height]);
        if (!colourPixels)
            goto End;
        colourContext = CreateCompatibleDC(screenContext);
        if (colourContext == nullptr)
            goto End;
        if (!ReadBitmapRows(colourContext, iconInfo.hbmColor, width, height, colourPixels.get()))
            goto End;
    }

    hr = surface->LockRect(&locked, nullptr, 0);
    if (FAILED(hr))
        goto End;
    for (LONG y = 0; y < height; ++y) {
        // The DIBs are bottom-up; y counts from the top. A monochrome mask
        // holds the AND mask above the XOR mask.
        const DWORD* maskRow = maskPixels.get() + static_cast<std::size_t>(maskBitmap.bmHeight - 1 - y) * width;
        const DWORD* colourRow = monochrome ? maskPixels.get() + static_cast<std::size_t>(height - 1 - y) * width
                                            : colourPixels.get() + static_cast<std::size_t>(height - 1 - y) * width;
        auto* destination = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
        for (LONG x = 0; x < width; ++x) {
            DWORD pixel = maskRow[x] != 0 ? 0 : (colourRow[x] | 0xFF000000);
            if (addWatermark && x < 12 && y < 5 && (watermark[y] & (1 << (15 - x))) != 0)
                pixel |= 0xFF808080;
            destination[x] = pixel;
        }
    }
    surface->UnlockRect();

    hr = device->SetCursorProperties(iconInfo.xHotspot, iconInfo.yHotspot, surface);
    if (SUCCEEDED(hr))
        hr = S_OK;

End:
    if (iconInfo.hbmMask != nullptr)
        DeleteObject(iconInfo.hbmMask);
    if (iconInfo.hbmColor != nullptr)
        DeleteObject(iconInfo.hbmColor);
    if (screenContext != nullptr)
        ReleaseDC(nullptr, screenContext);
    if (colourContext != nullptr)
        DeleteDC(colourContext);
    if (maskContext != nullptr)
        DeleteDC(maskContext);
    if (surface != nullptr)
        surface->Release();
    return hr;
}

const char* FormatName(D3DFORMAT format, bool withPrefix) {
    const char* name;
    switch (format) {
    case D3DFMT_UNKNOWN: name = "D3DFMT_UNKNOWN"; break;
    case D3DFMT_R8G8B8: name = "D3DFMT_R8G8B8"; break;
    case D3DFMT_A8R8G8B8: name = "D3DFMT_A8R8G8B8"; break;
    case D3DFMT_X8R8G8B8: name = "D3DFMT_X8R8G8B8"; break;
    case D3DFMT_R5G6B5: name = "D3DFMT_R5G6B5"; break;
    case D3DFMT_X1R5G5B5: name = "D3DFMT_X1R5G5B5"; break;
    case D3DFMT_A1R5G5B5: name = "D3DFMT_A1R5G5B5"; break;
    case D3DFMT_A4R4G4B4: name = "D3DFMT_A4R4G4B4"; break;
    case D3DFMT_R3G3B2: name = "D3DFMT_R3G3B2"; break;
    case D3DFMT_A8: name = "D3DFMT_A8"; break;
    case D3DFMT_A8R3G3B2: name = "D3DFMT_A8R3G3B2"; break;
    case D3DFMT_X4R4G4B4: name = "D3DFMT_X4R4G4B4"; break;
    case D3DFMT_A2B10G10R10: name = "D3DFMT_A2B10G10R10"; break;
    case D3DFMT_A8B8G8R8: name = "D3DFMT_A8B8G8R8"; break;
    case D3DFMT_X8B8G8R8: name = "D3DFMT_X8B8G8R8"; break;
    case D3DFMT_G16R16: name = "D3DFMT_G16R16"; break;
    case D3DFMT_A2R10G10B10: name = "D3DFMT_A2R10G10B10"; break;
    case D3DFMT_A16B16G16R16: name = "D3DFMT_A16B16G16R16"; break;
    case D3DFMT_A8P8: name = "D3DFMT_A8P8"; break;
    case D3DFMT_P8: name = "D3DFMT_P8"; break;
    case D3DFMT_L8: name = "D3DFMT_L8"; break;
    case D3DFMT_A8L8: name = "D3DFMT_A8L8"; break;
    case D3DFMT_A4L4: name = "D3DFMT_A4L4"; break;
    case D3DFMT_V8U8: name = "D3DFMT_V8U8"; break;
    case D3DFMT_L6V5U5: name = "D3DFMT_L6V5U5"; break;
    case D3DFMT_X8L8V8U8: name = "D3DFMT_X8L8V8U8"; break;
    case D3DFMT_Q8W8V8U8: name = "D3DFMT_Q8W8V8U8"; break;
    case D3DFMT_V16U16: name = "D3DFMT_V16U16"; break;
    case D3DFMT_A2W10V10U10: name = "D3DFMT_A2W10V10U10"; break;
    case D3DFMT_UYVY: name = "D3DFMT_UYVY"; break;
    case D3DFMT_YUY2: name = "D3DFMT_YUY2"; break;
    case D3DFMT_DXT1: name = "D3DFMT_DXT1"; break;
    case D3DFMT_DXT2: name = "D3DFMT_DXT2"; break;
    case D3DFMT_DXT3: name = "D3DFMT_DXT3"; break;
    case D3DFMT_DXT4: name = "D3DFMT_DXT4"; break;
    case D3DFMT_DXT5: name = "D3DFMT_DXT5"; break;
    case D3DFMT_D16_LOCKABLE: name = "D3DFMT_D16_LOCKABLE"; break;
    case D3DFMT_D32: name = "D3DFMT_D32"; break;
    case D3DFMT_D15S1: name = "D3DFMT_D15S1"; break;
    case D3DFMT_D24S8: name = "D3DFMT_D24S8"; break;
    case D3DFMT_D24X8: name = "D3DFMT_D24X8"; break;
    case D3DFMT_D24X4S4: name = "D3DFMT_D24X4S4"; break;
    case D3DFMT_D16: name = "D3DFMT_D16"; break;
    case D3DFMT_L16: name = "D3DFMT_L16"; break;
    case D3DFMT_VERTEXDATA: name = "D3DFMT_VERTEXDATA"; break;
    case D3DFMT_INDEX16: name = "D3DFMT_INDEX16"; break;
    case D3DFMT_INDEX32: name = "D3DFMT_INDEX32"; break;
    case D3DFMT_Q16W16V16U16: name = "D3DFMT_Q16W16V16U16"; break;
    case D3DFMT_MULTI2_ARGB8: name = "D3DFMT_MULTI2_ARGB8"; break;
    case D3DFMT_R16F: name = "D3DFMT_R16F"; break;
    case D3DFMT_G16R16F: name = "D3DFMT_G16R16F"; break;
    case D3DFMT_A16B16G16R16F: name = "D3DFMT_A16B16G16R16F"; break;
    case D3DFMT_R32F: name = "D3DFMT_R32F"; break;
    case D3DFMT_G32R32F: name = "D3DFMT_G32R32F"; break;
    case D3DFMT_A32B32G32R32F: name = "D3DFMT_A32B32G32R32F"; break;
    case D3DFMT_CxV8U8: name = "D3DFMT_CxV8U8"; break;
    default: name = "Unknown format"; break;
    }
    if (!withPrefix) {
        if (const char* prefix = std::strstr(name, "D3DFMT_"))
            name = prefix + 7;
    }
    return name;
}

HRESULT CopyText(char* destination, const char* source, int destinationSize) {
    if (destination == nullptr || source == nullptr || destinationSize < 1)
        return E_INVALIDARG;
    std::strncpy(destination, source, static_cast<std::size_t>(destinationSize));
    destination[destinationSize - 1] = '\0';
    return S_OK;
}

HRESULT ToWide(WCHAR* destination, const char* source, int destinationSize) {
    if (destination == nullptr || source == nullptr || destinationSize < 1)
        return E_INVALIDARG;
    int converted = MultiByteToWideChar(CP_ACP, 0, source, -1, destination, destinationSize);
    destination[destinationSize - 1] = 0;
    return converted == 0 ? E_FAIL : S_OK;
}

HRESULT ToWideBytes(WCHAR* destination, const char* source, int destinationBytes) {
    return ToWide(destination, source, destinationBytes / 2);
}

HRESULT ToNarrow(char* destination, const WCHAR* source, int destinationSize) {
    if (destination == nullptr || source == nullptr || destinationSize < 1)
        return E_INVALIDARG;
    int converted = WideCharToMultiByte(CP_ACP, 0, source, -1, destination, destinationSize, nullptr, nullptr);
    destination[destinationSize - 1] = '\0';
    return converted == 0 ? E_FAIL : S_OK;
}

#include "viewer/frame_picture.h"

#include "platform/common/png_file.h"

HRESULT ReadFramePixels(IDirect3DDevice9* device, std::vector<DWORD>* pixels, UINT* width, UINT* height) {
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* copy = nullptr;
    D3DSURFACE_DESC desc{};
    HRESULT hr = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    if (SUCCEEDED(hr))
        hr = backBuffer->GetDesc(&desc);
    if (SUCCEEDED(hr))
        hr = device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                 nullptr);
    if (SUCCEEDED(hr))
        hr = device->GetRenderTargetData(backBuffer, copy);
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(hr))
        hr = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    if (SUCCEEDED(hr)) {
        pixels->resize(size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y) {
            const DWORD* row =
                reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(locked.pBits) + size_t(y) * locked.Pitch);
            for (UINT x = 0; x < desc.Width; ++x)
                (*pixels)[size_t(y) * desc.Width + x] = row[x] | 0xFF000000;
        }
        copy->UnlockRect();
        *width = desc.Width;
        *height = desc.Height;
    }
    if (copy)
        copy->Release();
    if (backBuffer)
        backBuffer->Release();
    return hr;
}

bool SaveFramePicture(IDirect3DDevice9* device, const std::string& path, std::string* why) {
    std::vector<DWORD> pixels;
    UINT width = 0, height = 0;
    if (!device || FAILED(ReadFramePixels(device, &pixels, &width, &height))) {
        *why = "the picture could not be read from the 3-D device";
        return false;
    }
    return platform::writePngFile(path, int(width), int(height), pixels.data(), int(width * 4), why);
}

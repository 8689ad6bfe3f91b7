// vibrolane-snapshot: computes the mode exactly as the program does (same
// standard output, same debug-file.txt), then draws the viewer's first frame
// through the viewer's own device hooks on the reference device, with no
// window and no display, and writes it as a PNG.
//
// Exit status: 0 written; 2 bad option or output that cannot be written;
// 1 anything else.
#include <unistd.h>

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "framework/render_utils.h"
#include "platform/common/png_file.h"
#include "platform/win32/commctrl.h"
#include "startup/mode_surface.h"
#include "startup/startup_sequence.h"
#include "tools/snapshot/snapshot_options.h"
#include "viewer/viewer_app.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void complain(const std::string& text) { std::fprintf(stderr, "vibrolane-snapshot: %s\n", text.c_str()); }

// The viewer with the frame's part played by hand: a windowless REF device
// instead of a window, the catalog and the message loop.
class SnapshotApp : public ViewerApp {
public:
    int Snapshot(const SnapshotOptions& options) {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d) {
            complain("the 3-D device layer is not available");
            return ExitFailure;
        }
        int status = Render(options);
        if (device) {
            const ULONG left = device->Release();
            device = nullptr;
            if (left != 0 && status == 0) {
                complain("the device still had references after the scene was released");
                status = ExitFailure;
            }
        }
        d3d->Release();
        d3d = nullptr;
        return status;
    }

private:
    int Render(const SnapshotOptions& options) {
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = options.width;
        params.BackBufferHeight = options.height;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24X8;
        params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, nullptr,
                                       D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device);
        if (FAILED(hr)) {
            complain("could not create the reference device");
            return ExitFailure;
        }
        IDirect3DSurface9* backBuffer = nullptr;
        if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
            complain("the reference device has no back buffer");
            return ExitFailure;
        }
        backBuffer->GetDesc(&backBufferDesc);
        backBuffer->Release();
        windowed = true;
        CopyText(deviceStatsText, "REF (sw vp)", sizeof deviceStatsText);

        // The frame's pairing: a failed create is still destroyed, a failed
        // restore still released.
        hr = CreateDeviceObjects();
        if (SUCCEEDED(hr))
            hr = RestoreVolatileObjects();
        std::vector<DWORD> pixels;
        if (SUCCEEDED(hr)) {
            rotationX = options.rotationX;
            rotationY = options.rotationY;
            elapsedTime = 0.0f;
            UpdateScene();
            // Without the font the scene draws no text (the launcher icons).
            BitmapFont* const overlay = font;
            if (options.noOverlay)
                font = nullptr;
            RenderScene();
            font = overlay;
            hr = ReadFrame(&pixels);
        }
        ReleaseVolatileObjects();
        DestroyDeviceObjects();
        if (FAILED(hr)) {
            complain("could not draw the scene (device or font failure)");
            return ExitFailure;
        }

        std::string why;
        if (!platform::writePngFile(options.output, int(options.width), int(options.height), pixels.data(),
                                    int(options.width * 4), &why)) {
            complain("cannot write '" + options.output + "': " + why);
            return ExitUsage;
        }
        return 0;
    }

    HRESULT ReadFrame(std::vector<DWORD>* pixels) {
        IDirect3DSurface9* backBuffer = nullptr;
        IDirect3DSurface9* copy = nullptr;
        HRESULT hr = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
        if (SUCCEEDED(hr))
            hr = device->CreateOffscreenPlainSurface(backBufferDesc.Width, backBufferDesc.Height,
                                                     backBufferDesc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr);
        if (SUCCEEDED(hr))
            hr = device->GetRenderTargetData(backBuffer, copy);
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(hr))
            hr = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        if (SUCCEEDED(hr)) {
            pixels->resize(size_t(backBufferDesc.Width) * backBufferDesc.Height);
            for (UINT y = 0; y < backBufferDesc.Height; ++y) {
                const DWORD* row = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(locked.pBits) +
                                                                  size_t(y) * locked.Pitch);
                for (UINT x = 0; x < backBufferDesc.Width; ++x)
                    (*pixels)[size_t(y) * backBufferDesc.Width + x] = row[x] | 0xFF000000;
            }
            copy->UnlockRect();
        }
        if (copy)
            copy->Release();
        if (backBuffer)
            backBuffer->Release();
        return hr;
    }
};

}  // namespace

int main(int argc, char** argv) {
    SnapshotOptions options;
    std::string error;
    if (!ParseSnapshotOptions(argc, argv, &options, &error)) {
        complain(error + " (see --help)");
        return ExitUsage;
    }
    if (options.help) {
        std::printf("%s\n", SnapshotUsage);
        return 0;
    }

    // An output that cannot be written is found before the computation.
    const std::string::size_type slash = options.output.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : options.output.substr(0, slash);
    if (access(folder.c_str(), W_OK | X_OK) != 0 ||
        (access(options.output.c_str(), F_OK) == 0 && access(options.output.c_str(), W_OK) != 0)) {
        complain("cannot write '" + options.output + "': " + std::strerror(errno));
        return ExitUsage;
    }

    // Fonts need the GUI library; its offscreen platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A picture counts its own pixels, and its text keeps its size, whatever
    // scale the desktop asks of the GUI library.
    unsetenv("QT_SCALE_FACTOR");
    unsetenv("QT_SCREEN_SCALE_FACTORS");

    if (!ComputeAndPublishModeSurface(ModeComputation, std::cerr))
        return ExitFailure;
    std::cout.flush();

    SnapshotApp app;
    InitCommonControls();
    return app.Snapshot(options);
}

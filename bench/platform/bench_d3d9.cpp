// Frames per second of the device drawing a surface the size of the
// program's: 1860 triangles, each twice (once per side), lit by one
// directional light with per-vertex colour and the depth test on, into a
// 500 x 375 back buffer. Run under a display (xvfb-run) to see HAL as well.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "math/matrix_functions.h"
#include "platform/d3d9/d3d9.h"

namespace {

constexpr UINT kWidth = 500, kHeight = 375;
constexpr int kColumns = 30, kRows = 31;  // 30 x 31 cells, 2 triangles each: 1860
constexpr float kPi = 3.14159265f;

struct SurfaceVertex {
    float x, y, z, nx, ny, nz;
    D3DCOLOR diffuse;
};

D3DCOLOR heightColor(float h) {
    const auto a = D3DCOLOR(std::fabs(h) * 255.0f);
    return h < 0 ? a * 65536 + 0x2000 : a + 0x2000;
}

// A disk-shaped grid with a mode-like height, expanded as the viewer does.
std::vector<SurfaceVertex> surface() {
    struct Point {
        float x, y, h;
    };
    std::vector<Point> points;
    for (int j = 0; j <= kRows; ++j)
        for (int i = 0; i <= kColumns; ++i) {
            const float u = -1.0f + 2.0f * float(i) / kColumns, v = -1.0f + 2.0f * float(j) / kRows;
            // Squeeze the square onto the unit disk.
            const float x = u * std::sqrt(1.0f - v * v / 2.0f), y = v * std::sqrt(1.0f - u * u / 2.0f);
            const float r = std::sqrt(x * x + y * y), theta = std::atan2(y, x);
            points.push_back({x, y, std::sin(kPi * r) * std::cos(2.0f * theta)});
        }
    std::vector<SurfaceVertex> out;
    auto triangle = [&](int a, int b, int c) {
        const Point* p[3] = {&points[size_t(a)], &points[size_t(b)], &points[size_t(c)]};
        D3DXVECTOR3 q[3];
        for (int k = 0; k < 3; ++k)
            q[k] = D3DXVECTOR3(2 * p[k]->x, 2 * p[k]->y, 2 * p[k]->h);
        const D3DXVECTOR3 e1(q[1].x - q[0].x, q[1].y - q[0].y, q[1].z - q[0].z);
        const D3DXVECTOR3 e2(q[2].x - q[0].x, q[2].y - q[0].y, q[2].z - q[0].z);
        D3DXVECTOR3 n(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
        D3DXVec3Normalize(&n, &n);
        for (int k : {0, 1, 2})
            out.push_back({q[k].x, q[k].y, q[k].z, n.x, n.y, n.z, heightColor(p[k]->h)});
        for (int k : {2, 1, 0})
            out.push_back({q[k].x, q[k].y, q[k].z, -n.x, -n.y, -n.z, heightColor(p[k]->h)});
    };
    for (int j = 0; j < kRows; ++j)
        for (int i = 0; i < kColumns; ++i) {
            const int a = j * (kColumns + 1) + i, b = a + 1, c = a + kColumns + 1, d = c + 1;
            triangle(a, c, b);
            triangle(b, c, d);
        }
    return out;
}

struct Scene {
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DSurface9* readBack = nullptr;
    UINT triangles = 0;

    ~Scene() {
        if (readBack)
            readBack->Release();
        if (buffer)
            buffer->Release();
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
    }

    bool create(D3DDEVTYPE type) {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (!d3d || FAILED(d3d->CreateDevice(0, type, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device)))
            return false;
        const std::vector<SurfaceVertex> vertices = surface();
        triangles = UINT(vertices.size() / 3);
        const UINT bytes = UINT(vertices.size() * sizeof(SurfaceVertex));
        void* data = nullptr;
        if (FAILED(device->CreateVertexBuffer(bytes, 0, 0x52, D3DPOOL_MANAGED, &buffer, nullptr)) ||
            FAILED(buffer->Lock(0, 0, &data, 0)))
            return false;
        std::memcpy(data, vertices.data(), bytes);
        buffer->Unlock();
        if (FAILED(device->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &readBack,
                                                       nullptr)))
            return false;

        D3DMATERIAL9 material{};
        material.Diffuse = material.Ambient = {1, 1, 1, 1};
        device->SetMaterial(&material);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1, 1, 1, 0};
        D3DXVECTOR3 direction(-1, -1, 2);
        D3DXVec3Normalize(&direction, &direction);
        light.Direction = direction;
        light.Range = 1000.0f;
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, 0x000F0F0F);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, float(kWidth) / float(kHeight), 1.0f, 100.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        return true;
    }

    void frame(float angle, bool readBackFrame) {
        D3DXMATRIX rx, ry, world;
        D3DXMatrixRotationX(&rx, 0.6f * angle);
        D3DXMatrixRotationY(&ry, angle);
        D3DXMatrixMultiply(&world, &rx, &ry);
        device->SetTransform(D3DTS_WORLD, &world);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000080FF, 1.0f, 0);
        device->BeginScene();
        device->SetStreamSource(0, buffer, 0, sizeof(SurfaceVertex));
        device->SetFVF(0x52);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        if (readBackFrame) {
            IDirect3DSurface9* back = nullptr;
            device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
            device->GetRenderTargetData(back, readBack);
            back->Release();
        }
    }
};

void drawSurface(benchmark::State& state, D3DDEVTYPE type, bool readBack) {
    Scene scene;
    if (!scene.create(type)) {
        state.SkipWithError("device not available");
        return;
    }
    float angle = 0.0f;
    for (auto _ : state) {
        scene.frame(angle, readBack);
        angle += 0.01f;
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles"] = double(scene.triangles);
}

}  // namespace

int main(int argc, char** argv) {
    // HAL needs a GUI application with OpenGL; without a display only REF runs.
    std::unique_ptr<QGuiApplication> app;
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM"))
        app = std::make_unique<QGuiApplication>(argc, argv);

    // Wall-clock time throughout: HAL's work runs on llvmpipe's own threads,
    // and REF is meant to be pinned to one core (taskset -c 0).
    benchmark::RegisterBenchmark("REF/surface_500x375", drawSurface, D3DDEVTYPE_REF, false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("REF/surface_500x375_readback", drawSurface, D3DDEVTYPE_REF, true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DCAPS9 caps;
    if (d3d && SUCCEEDED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps))) {
        // Reading the frame back is what makes an OpenGL frame finish.
        benchmark::RegisterBenchmark("HAL/surface_500x375_readback", drawSurface, D3DDEVTYPE_HAL, true)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    if (d3d)
        d3d->Release();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

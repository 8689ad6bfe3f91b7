#include "tests/platform/d3d9/reference_scenes.h"

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "math/matrix_functions.h"

namespace reference_scenes {

namespace {

constexpr float kPi = 3.14159265f;
constexpr int kGrid = 10;

template <class T>
void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

template <class Vertex>
HRESULT makeBuffer(IDirect3DDevice9* device, const std::vector<Vertex>& vertices, DWORD fvf,
                   IDirect3DVertexBuffer9** buffer) {
    const UINT bytes = UINT(vertices.size() * sizeof(Vertex));
    HRESULT hr = device->CreateVertexBuffer(bytes, 0, fvf, D3DPOOL_MANAGED, buffer, nullptr);
    if (FAILED(hr))
        return hr;
    void* data = nullptr;
    hr = (*buffer)->Lock(0, 0, &data, 0);
    if (FAILED(hr))
        return hr;
    std::memcpy(data, vertices.data(), bytes);
    return (*buffer)->Unlock();
}

float gridHeight(float x, float y) { return 0.85f * std::sin(1.3f * kPi * x) * std::cos(0.45f * kPi * y); }

void setCamera(IDirect3DDevice9* device) {
    const D3DMATRIX view = sceneView(), projection = sceneProjection();
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
}

void setProgramLighting(IDirect3DDevice9* device) {
    D3DMATERIAL9 material{};
    material.Diffuse = material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    device->SetMaterial(&material);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    light.Position = {-1.0f, -1.0f, 2.0f};
    light.Direction = lightDirection();
    light.Range = 1000.0f;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, kAmbient);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    // The program's texture stage: a texture argument with no texture set.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

// Every triangle twice, once per side, as the program expands its surface.
std::vector<SurfaceVertex> twoSided(const std::vector<D3DVECTOR>& positions, const std::vector<float>& heights,
                                    const std::vector<int>& triangles, const D3DCOLOR* fixedColor) {
    std::vector<SurfaceVertex> out;
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        D3DVECTOR p[3];
        D3DCOLOR c[3];
        for (int j = 0; j < 3; ++j) {
            const D3DVECTOR& v = positions[size_t(triangles[t + j])];
            p[j] = {2 * v.x, 2 * v.y, 2 * v.z};
            c[j] = fixedColor ? *fixedColor : heightColor(heights[size_t(triangles[t + j])]);
        }
        D3DXVECTOR3 e1(p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z);
        D3DXVECTOR3 e2(p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z);
        D3DXVECTOR3 n(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
        D3DXVec3Normalize(&n, &n);
        for (int j : {0, 1, 2})
            out.push_back({p[j].x, p[j].y, p[j].z, n.x, n.y, n.z, c[j]});
        for (int j : {2, 1, 0})
            out.push_back({p[j].x, p[j].y, p[j].z, -n.x, -n.y, -n.z, c[j]});
    }
    return out;
}

std::vector<SurfaceVertex> quadVertices() {
    const std::vector<D3DVECTOR> corners = {{-0.75f, -0.75f, 0}, {-0.75f, 0.75f, 0}, {0.75f, -0.75f, 0},
                                            {0.75f, 0.75f, 0}};
    const std::vector<int> triangles = {0, 1, 2, 2, 1, 3};
    const D3DCOLOR color = kQuadColor;
    return twoSided(corners, {}, triangles, &color);
}

HRESULT drawSurface(IDirect3DDevice9* device, const std::vector<SurfaceVertex>& vertices, const D3DMATRIX& world) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    HRESULT hr = makeBuffer(device, vertices, fvf, &buffer);
    if (SUCCEEDED(hr)) {
        setProgramLighting(device);
        setCamera(device);
        device->SetTransform(D3DTS_WORLD, &world);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000080FF, 1.0f, 0);
        hr = device->BeginScene();
        if (SUCCEEDED(hr)) {
            device->SetStreamSource(0, buffer, 0, sizeof(SurfaceVertex));
            device->SetFVF(fvf);
            hr = device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3));
            device->EndScene();
        }
    }
    release(buffer);
    return hr;
}

// Four screen-space quads, each 64 x 64 pixels, drawn the way the overlay
// font draws its glyphs (half-pixel offsets put texel centres on pixels).
void appendQuad(std::vector<OverlayVertex>& out, float x, float y, float w, float h, D3DCOLOR color) {
    const float z = 0.9f, rhw = 1.0f;
    out.push_back({x - 0.5f, y + h - 0.5f, z, rhw, color, 0, 1});
    out.push_back({x - 0.5f, y - 0.5f, z, rhw, color, 0, 0});
    out.push_back({x + w - 0.5f, y + h - 0.5f, z, rhw, color, 1, 1});
    out.push_back({x + w - 0.5f, y - 0.5f, z, rhw, color, 1, 0});
    out.push_back({x + w - 0.5f, y + h - 0.5f, z, rhw, color, 1, 1});
    out.push_back({x - 0.5f, y - 0.5f, z, rhw, color, 0, 0});
}

HRESULT drawOverlay(IDirect3DDevice9* device) {
    IDirect3DTexture9* glyphs = nullptr;
    IDirect3DTexture9* colors = nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;
    HRESULT hr = device->CreateTexture(8, 8, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &glyphs, nullptr);
    if (SUCCEEDED(hr))
        hr = device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &colors, nullptr);
    if (SUCCEEDED(hr))
        hr = device->CreateVertexBuffer(24 * sizeof(OverlayVertex), D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0,
                                        D3DPOOL_DEFAULT, &buffer, nullptr);
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = glyphs->LockRect(0, &locked, nullptr, 0))) {
        for (int y = 0; y < 8; ++y) {
            auto* row = reinterpret_cast<WORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 8; ++x)
                row[x] = y == 0 ? 0x8F00 : ((x + y) % 2 == 0 ? 0xFFFF : 0x0FFF);
        }
        glyphs->UnlockRect(0);
    }
    if (SUCCEEDED(hr) && SUCCEEDED(hr = colors->LockRect(0, &locked, nullptr, 0))) {
        auto* row0 = static_cast<DWORD*>(locked.pBits);
        auto* row1 = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + locked.Pitch);
        row0[0] = 0xFFFF0000;
        row0[1] = 0xFF00FF00;
        row1[0] = 0xFF0000FF;
        row1[1] = 0xFFFFFFFF;
        colors->UnlockRect(0);
    }
    if (SUCCEEDED(hr)) {
        std::vector<OverlayVertex> quads;
        appendQuad(quads, 8, 8, 64, 64, 0xFFFFFF00);
        appendQuad(quads, 88, 8, 64, 64, 0xFFFFFFFF);
        appendQuad(quads, 8, 80, 64, 32, 0xFFFFFFFF);
        appendQuad(quads, 88, 80, 64, 32, 0xFF40C020);
        void* data = nullptr;
        hr = buffer->Lock(0, 0, &data, D3DLOCK_DISCARD);
        if (SUCCEEDED(hr)) {
            std::memcpy(data, quads.data(), quads.size() * sizeof(OverlayVertex));
            buffer->Unlock();
        }
    }
    if (SUCCEEDED(hr)) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF303030, 1.0f, 0);
        hr = device->BeginScene();
    }
    if (SUCCEEDED(hr)) {
        device->SetFVF(kOverlayFvf);
        device->SetStreamSource(0, buffer, 0, sizeof(OverlayVertex));
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);

        // 1: glyph-like texture, point sampled, alpha tested and blended.
        device->SetTexture(0, glyphs);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHAREF, 0x08);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);

        // 2: 2 x 2 colours stretched with linear filtering, clamped.
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetTexture(0, colors);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 6, 2);

        // 3: no texture, only green may be written.
        device->SetTexture(0, nullptr);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_GREEN);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 12, 2);

        // 4: no texture: the stage passes the diffuse colour through.
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0x0F);
        hr = device->DrawPrimitive(D3DPT_TRIANGLELIST, 18, 2);
        device->EndScene();
    }
    if (device)
        device->SetTexture(0, nullptr);
    release(buffer);
    release(colors);
    release(glyphs);
    return hr;
}

HRESULT drawDepthCulling(IDirect3DDevice9* device) {
    const std::vector<ColorVertex> vertices = {
        // A: near, red, clockwise on screen.
        {-1.5f, -1.0f, 0.0f, 0xFFFF0000},
        {-1.5f, 1.0f, 0.0f, 0xFFFF0000},
        {0.5f, -1.0f, 0.0f, 0xFFFF0000},
        // B: farther, green, drawn after A and partly behind it.
        {-2.5f, -1.5f, 2.0f, 0xFF00FF00},
        {-2.5f, 1.8f, 2.0f, 0xFF00FF00},
        {2.0f, -1.5f, 2.0f, 0xFF00FF00},
        // C: counter-clockwise on screen, blue: culled by default.
        {1.0f, 0.2f, 0.0f, 0xFF0000FF},
        {2.2f, 0.2f, 0.0f, 0xFF0000FF},
        {1.0f, 1.6f, 0.0f, 0xFF0000FF},
        // D: one corner behind the camera, yellow, drawn without culling.
        {0.8f, -1.8f, -6.0f, 0xFFFFFF00},
        {1.5f, -0.2f, 1.0f, 0xFFFFFF00},
        {2.4f, -1.6f, 1.0f, 0xFFFFFF00},
    };
    IDirect3DVertexBuffer9* buffer = nullptr;
    HRESULT hr = makeBuffer(device, vertices, kColorFvf, &buffer);
    if (SUCCEEDED(hr)) {
        setCamera(device);
        const D3DXMATRIX world(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000040, 1.0f, 0);
        hr = device->BeginScene();
    }
    if (SUCCEEDED(hr)) {
        device->SetStreamSource(0, buffer, 0, sizeof(ColorVertex));
        device->SetFVF(kColorFvf);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 3);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        hr = device->DrawPrimitive(D3DPT_TRIANGLELIST, 9, 1);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        device->EndScene();
    }
    release(buffer);
    return hr;
}

}  // namespace

std::vector<Scene> allScenes() {
    return {Scene::LitMesh, Scene::LitMeshBehind, Scene::LitQuad, Scene::Overlay, Scene::DepthCulling};
}

const char* sceneName(Scene scene) {
    switch (scene) {
    case Scene::LitMesh: return "lit_mesh";
    case Scene::LitMeshBehind: return "lit_mesh_behind";
    case Scene::LitQuad: return "lit_quad";
    case Scene::Overlay: return "overlay";
    case Scene::DepthCulling: return "depth_culling";
    }
    return "unknown";
}

D3DCOLOR heightColor(float h) {
    const auto a = D3DCOLOR(std::fabs(h) * 255.0f);
    return h < 0 ? a * 65536 + 0x2000 : a + 0x2000;
}

std::vector<SurfaceVertex> meshVertices() {
    std::vector<D3DVECTOR> positions;
    std::vector<float> heights;
    for (int j = 0; j <= kGrid; ++j)
        for (int i = 0; i <= kGrid; ++i) {
            const float x = -1.0f + 2.0f * float(i) / kGrid, y = -1.0f + 2.0f * float(j) / kGrid;
            const float h = gridHeight(x, y);
            positions.push_back({x * 0.5f, y * 0.5f, h * 0.5f});
            heights.push_back(h);
        }
    std::vector<int> triangles;
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            const int a = j * (kGrid + 1) + i, b = a + 1, c = a + kGrid + 1, d = c + 1;
            triangles.insert(triangles.end(), {a, c, b, b, c, d});
        }
    return twoSided(positions, heights, triangles, nullptr);
}

D3DMATRIX meshWorld(Scene scene) {
    D3DXMATRIX rx, ry, world;
    D3DXMatrixRotationX(&rx, -0.9f);
    D3DXMatrixRotationY(&ry, scene == Scene::LitMeshBehind ? 0.35f + kPi : 0.35f);
    D3DXMatrixMultiply(&world, &rx, &ry);
    return world;
}

D3DMATRIX sceneView() {
    D3DXMATRIX view;
    const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    return view;
}

D3DMATRIX sceneProjection() {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, float(kWidth) / float(kHeight), 1.0f, 100.0f);
    return projection;
}

D3DVECTOR lightDirection() {
    D3DXVECTOR3 direction(-1, -1, 2);
    D3DXVec3Normalize(&direction, &direction);
    return direction;
}

D3DPRESENT_PARAMETERS windowedParameters(UINT width, UINT height, D3DFORMAT depth) {
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.BackBufferCount = 1;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = depth;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return params;
}

HRESULT createWindowlessDevice(IDirect3D9* d3d, D3DDEVTYPE type, IDirect3DDevice9** device) {
    D3DPRESENT_PARAMETERS params = windowedParameters(kWidth, kHeight, D3DFMT_D24X8);
    return d3d->CreateDevice(D3DADAPTER_DEFAULT, type, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, device);
}

HRESULT renderScene(IDirect3DDevice9* device, Scene scene) {
    switch (scene) {
    case Scene::LitMesh:
    case Scene::LitMeshBehind: return drawSurface(device, meshVertices(), meshWorld(scene));
    case Scene::LitQuad: {
        const D3DXMATRIX identity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
        return drawSurface(device, quadVertices(), identity);
    }
    case Scene::Overlay: return drawOverlay(device);
    case Scene::DepthCulling: return drawDepthCulling(device);
    }
    return E_INVALIDARG;
}

HRESULT readBackBuffer(IDirect3DDevice9* device, Image* image) {
    IDirect3DSurface9* back = nullptr;
    IDirect3DSurface9* copy = nullptr;
    HRESULT hr = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    D3DSURFACE_DESC desc{};
    if (SUCCEEDED(hr))
        hr = back->GetDesc(&desc);
    if (SUCCEEDED(hr))
        hr = device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                 nullptr);
    if (SUCCEEDED(hr))
        hr = device->GetRenderTargetData(back, copy);
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(hr))
        hr = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    if (SUCCEEDED(hr)) {
        image->width = desc.Width;
        image->height = desc.Height;
        image->pixels.resize(size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const BYTE*>(locked.pBits) +
                                                                     size_t(y) * locked.Pitch);
            for (UINT x = 0; x < desc.Width; ++x)
                image->pixels[size_t(y) * desc.Width + x] = row[x] | 0xFF000000u;
        }
        copy->UnlockRect();
    }
    release(copy);
    release(back);
    return hr;
}

double agreement(const Image& a, const Image& b, int tolerance) {
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return 0.0;
    size_t close = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        bool ok = true;
        for (int shift : {16, 8, 0}) {
            const int da = int((a.pixels[i] >> shift) & 0xFF), db = int((b.pixels[i] >> shift) & 0xFF);
            ok = ok && std::abs(da - db) <= tolerance;
        }
        close += ok ? 1 : 0;
    }
    return double(close) / double(a.pixels.size());
}

bool savePng(const Image& image, const std::string& path) {
    QImage q(int(image.width), int(image.height), QImage::Format_RGB32);
    for (UINT y = 0; y < image.height; ++y)
        std::memcpy(q.scanLine(int(y)), image.pixels.data() + size_t(y) * image.width, size_t(image.width) * 4);
    return q.save(QString::fromStdString(path), "PNG");
}

bool loadPng(const std::string& path, Image* image) {
    QImage q;
    if (!q.load(QString::fromStdString(path), "PNG"))
        return false;
    q = q.convertToFormat(QImage::Format_RGB32);
    image->width = UINT(q.width());
    image->height = UINT(q.height());
    image->pixels.resize(size_t(image->width) * image->height);
    for (UINT y = 0; y < image->height; ++y)
        std::memcpy(image->pixels.data() + size_t(y) * image->width, q.constScanLine(int(y)),
                    size_t(image->width) * 4);
    return true;
}

}  // namespace reference_scenes

#include "viewer/surface_renderer.h"

#include <cmath>

#include "framework/render_utils.h"
#include "math/matrix_functions.h"

D3DCOLOR HeightColor(float h) {
    const D3DCOLOR a = static_cast<D3DCOLOR>(std::fabs(h) * 255.0);
    if (h < 0)
        return a * 65536 + 0x2000;
    return a + 0x2000;
}

namespace {

void writeVertex(SurfaceVertex* out, const D3DXVECTOR3& p, const D3DXVECTOR3& n, D3DCOLOR diffuse) {
    *out = {p.x, p.y, p.z, n.x, n.y, n.z, diffuse};
}

}  // namespace

void FillSurfaceVertices(const ModeSurface& surface, SurfaceVertex* vertices) {
    for (std::int32_t k = 0; k < surface.triangleCount; ++k) {
        const ModeTriangle& t = surface.triangles[k];
        const ModeVertex* v[3] = {&surface.vertices[t.apex], &surface.vertices[t.first],
                                  &surface.vertices[t.second]};
        D3DXVECTOR3 p[3];
        D3DCOLOR c[3];
        for (int j = 0; j < 3; ++j) {
            p[j] = D3DXVECTOR3(2 * v[j]->x, 2 * v[j]->y, 2 * v[j]->z);
            c[j] = HeightColor(v[j]->z);
        }
        const D3DXVECTOR3 e1(p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z);
        const D3DXVECTOR3 e2(p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z);
        const D3DXVECTOR3 cross(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
        D3DXVECTOR3 n;
        D3DXVec3Normalize(&n, &cross);
        const D3DXVECTOR3 back(-n.x, -n.y, -n.z);

        SurfaceVertex* out = vertices + SurfaceVerticesPerTriangle * static_cast<std::size_t>(k);
        writeVertex(out + 0, p[0], n, c[0]);
        writeVertex(out + 1, p[1], n, c[1]);
        writeVertex(out + 2, p[2], n, c[2]);
        writeVertex(out + 3, p[2], back, c[2]);
        writeVertex(out + 4, p[1], back, c[1]);
        writeVertex(out + 5, p[0], back, c[0]);
    }
}

HRESULT CreateSurfaceVertexBuffer(IDirect3DDevice9* device, const ModeSurface& surface,
                                  IDirect3DVertexBuffer9** buffer) {
    const UINT length = static_cast<UINT>(surface.triangleCount) * SurfaceVerticesPerTriangle * sizeof(SurfaceVertex);
    HRESULT hr = device->CreateVertexBuffer(length, 0, SurfaceVertexFvf, D3DPOOL_MANAGED, buffer, nullptr);
    if (FAILED(hr))
        return hr;
    void* data = nullptr;
    hr = (*buffer)->Lock(0, 0, &data, 0);
    if (FAILED(hr))
        return hr;
    FillSurfaceVertices(surface, static_cast<SurfaceVertex*>(data));
    (*buffer)->Unlock();
    return S_OK;
}

void SetSurfaceView(IDirect3DDevice9* device, float distance) {
    const D3DXVECTOR3 eye(0.0f, 0.0f, -distance);
    const D3DXVECTOR3 at(0.0f, 0.0f, 0.0f);
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    device->SetTransform(D3DTS_VIEW, &view);
}

void SetSurfaceDrawStates(IDirect3DDevice9* device, UINT backBufferWidth, UINT backBufferHeight,
                          float cameraDistance) {
    D3DMATERIAL9 material;
    InitMaterial(material, 1.0f, 1.0f, 1.0f, 1.0f);
    device->SetMaterial(&material);

    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);

    device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0x000F0F0F);

    D3DXMATRIX world(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    device->SetTransform(D3DTS_WORLD, &world);

    SetSurfaceView(device, cameraDistance);

    const float aspect = static_cast<float>(backBufferWidth) / static_cast<float>(backBufferHeight);
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, aspect, 1.0f, 100.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    D3DLIGHT9 light;
    InitLight(light, D3DLIGHT_DIRECTIONAL, -1.0f, -1.0f, 2.0f);
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
}

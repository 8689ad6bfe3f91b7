#include "tests/framework/triangle_app.h"

#include <cstring>

#include "framework/render_utils.h"
#include "math/matrix_functions.h"

namespace {

struct LitVertex {
    float x, y, z;
    float nx, ny, nz;
};
constexpr DWORD kLitVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL;

// Facing the camera, which looks along +z from z = -3.
constexpr LitVertex kTriangle[3] = {
    {-1.0f, -1.0f, 0.0f, 0.0f, 0.0f, -1.0f},
    {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, -1.0f},
    {1.0f, -1.0f, 0.0f, 0.0f, 0.0f, -1.0f},
};

}  // namespace

TriangleApp::TriangleApp() {
    windowTitle = "vibrolane frame";
    createWidth = 320;
    createHeight = 240;
    catalog.usesDepthBuffer = true;
}

TriangleApp::~TriangleApp() = default;

HRESULT TriangleApp::AcceptDevice(D3DCAPS9* caps, DWORD, D3DFORMAT) {
    ++counts.acceptDevice;
    if (caps->DeviceType == D3DDEVTYPE_HAL)
        return acceptHal ? S_OK : E_FAIL;
    return acceptRef ? S_OK : E_FAIL;
}

HRESULT TriangleApp::SceneStartup() {
    ++counts.sceneStartup;
    return sceneStartupResult;
}

HRESULT TriangleApp::CreateDeviceObjects() {
    ++counts.createDeviceObjects;
    if (settings.CurrentDeviceType() == D3DDEVTYPE_HAL && FAILED(createResultOnHal))
        return createResultOnHal;
    HRESULT hr = device->CreateVertexBuffer(sizeof kTriangle, 0, kLitVertexFormat, D3DPOOL_MANAGED, &triangle, nullptr);
    if (FAILED(hr))
        return hr;
    void* data = nullptr;
    if (FAILED(hr = triangle->Lock(0, 0, &data, 0)))
        return hr;
    std::memcpy(data, kTriangle, sizeof kTriangle);
    triangle->Unlock();
    ++counts.deviceObjectsMade;
    return S_OK;
}

HRESULT TriangleApp::RestoreVolatileObjects() {
    ++counts.restoreVolatileObjects;
    if (failRestoreFromCall > 0 && counts.restoreVolatileObjects >= failRestoreFromCall)
        return E_FAIL;

    D3DXMATRIX view, projection;
    const D3DXVECTOR3 eye(0.0f, 0.0f, -3.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    const float aspect = float(backBufferDesc.Width) / float(backBufferDesc.Height);
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, aspect, 1.0f, 10.0f);

    device->BeginStateBlock();
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    D3DMATERIAL9 material;
    InitMaterial(material, 1.0f, 0.5f, 0.0f, 1.0f);
    device->SetMaterial(&material);
    D3DLIGHT9 light;
    InitLight(light, D3DLIGHT_DIRECTIONAL, 0.0f, 0.0f, 1.0f);
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const HRESULT hr = device->EndStateBlock(&drawState);
    if (FAILED(hr))
        return hr;
    ++counts.volatileObjectsMade;
    return S_OK;
}

HRESULT TriangleApp::UpdateScene() {
    ++counts.updateScene;
    if (onFrame)
        onFrame(*this);
    return S_OK;
}

HRESULT TriangleApp::RenderScene() {
    ++counts.renderScene;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        drawState->Apply();
        D3DXMATRIX world;
        D3DXMatrixRotationY(&world, 0.0f);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetStreamSource(0, triangle, 0, sizeof(LitVertex));
        device->SetFVF(kLitVertexFormat);
        const HRESULT hr = device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
        device->EndScene();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT TriangleApp::ReleaseVolatileObjects() {
    ++counts.releaseVolatileObjects;
    if (drawState) {
        drawState->Release();
        drawState = nullptr;
    }
    return S_OK;
}

HRESULT TriangleApp::DestroyDeviceObjects() {
    ++counts.destroyDeviceObjects;
    if (triangle) {
        triangle->Release();
        triangle = nullptr;
    }
    return S_OK;
}

HRESULT TriangleApp::SceneShutdown() {
    ++counts.sceneShutdown;
    return S_OK;
}

void TriangleApp::UpdateFrameStats() {
    ++counts.frameStats;
    RenderApp::UpdateFrameStats();
}

int RunTriangleApp(TriangleApp& app, HINSTANCE instance) {
    if (FAILED(app.Create(instance)))
        return 1;
    return app.Run();
}

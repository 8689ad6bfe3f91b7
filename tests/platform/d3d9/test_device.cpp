// The object and the device without any window: enumeration answers,
// reference counting, state blocks, resets and the calls' failure paths.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/d3d9/reference_scenes.h"

using namespace reference_scenes;

namespace {

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(31);
        ASSERT_NE(d3d_, nullptr);
        ASSERT_EQ(createWindowlessDevice(d3d_, D3DDEVTYPE_REF, &device_), D3D_OK);
    }
    void TearDown() override {
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }

    D3DPRESENT_PARAMETERS windowedParams(UINT width = kWidth, UINT height = kHeight) {
        return windowedParameters(width, height, D3DFMT_D16);
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

TEST(Direct3DObject, SdkVersions) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->Release(), 0u);
    EXPECT_EQ(Direct3DCreate9(30), nullptr);
}

TEST(Direct3DObject, AdaptersModesAndIdentifier) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_GE(d3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
    const UINT count = d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8);
    ASSERT_GE(count, 1u);
    EXPECT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_R5G6B5), 0u);
    bool desktopListed = false;
    D3DDISPLAYMODE previous{};
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE mode{};
        ASSERT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, i, &mode), D3D_OK);
        EXPECT_LE(mode.Width, desktop.Width);
        EXPECT_LE(mode.Height, desktop.Height);
        EXPECT_EQ(mode.RefreshRate, desktop.RefreshRate);
        EXPECT_TRUE(mode.Width > previous.Width || (mode.Width == previous.Width && mode.Height > previous.Height));
        desktopListed = desktopListed || (mode.Width == desktop.Width && mode.Height == desktop.Height);
        previous = mode;
    }
    EXPECT_TRUE(desktopListed);
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, count, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(d3d->GetAdapterCount(), &mode), D3DERR_INVALIDCALL);

    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_LT(std::strlen(id.Description), sizeof id.Description);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST(Direct3DObject, ReferenceIsOfferedSoftwareIsNot) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE, 0u);
    EXPECT_NE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT, 0u);
    EXPECT_NE(caps.PresentationIntervals & D3DPRESENT_INTERVAL_IMMEDIATE, 0u);
    EXPECT_NE(caps.PresentationIntervals & D3DPRESENT_INTERVAL_ONE, 0u);
    EXPECT_EQ(caps.PresentationIntervals & D3DPRESENT_INTERVAL_TWO, 0u);
    EXPECT_GE(caps.MaxTextureWidth, 256u);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_SW, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3DERR_NOTAVAILABLE);

    // HAL either answers both questions or neither.
    const HRESULT halCaps = d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
    EXPECT_TRUE(halCaps == D3D_OK || halCaps == D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), halCaps);

    for (D3DFORMAT back : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8})
        for (BOOL windowed : {FALSE, TRUE})
            EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, back, windowed), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, TRUE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3DERR_NOTAVAILABLE);

    for (D3DFORMAT depth : {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D32}) {
        EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                         depth),
                  D3D_OK);
        EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, depth), D3D_OK);
    }
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                     D3DFMT_D15S1),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A4R4G4B4),
              D3D_OK);

    DWORD levels = 0;
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, TRUE, D3DMULTISAMPLE_NONE, &levels),
              D3D_OK);
    EXPECT_EQ(levels, 1u);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_REF, D3DFMT_D16, TRUE, D3DMULTISAMPLE_NONE, nullptr),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, TRUE, D3DMULTISAMPLE_2_SAMPLES,
                                              &levels),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST_F(DeviceTest, CreationRejectsBadArguments) {
    IDirect3DDevice9* other = nullptr;
    D3DPRESENT_PARAMETERS p = windowedParams();
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, 0, &p, &other), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr,
                                 D3DCREATE_PUREDEVICE | D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_SW, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_NOTAVAILABLE);
    p.PresentationInterval = D3DPRESENT_INTERVAL_TWO;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_INVALIDCALL);
    p = windowedParams();
    p.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_INVALIDCALL);
    // Full screen needs a window to cover and a listed mode.
    p = windowedParams();
    p.Windowed = FALSE;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(other, nullptr);
}

TEST_F(DeviceTest, BackBufferDescriptionAndDeviceCaps) {
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(back->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, kWidth);
    EXPECT_EQ(desc.Height, kHeight);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    back->Release();
    IDirect3DSurface9* none = nullptr;
    EXPECT_EQ(device_->GetBackBuffer(0, 1, D3DBACKBUFFER_TYPE_MONO, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->GetBackBuffer(1, 0, D3DBACKBUFFER_TYPE_MONO, &none), D3DERR_INVALIDCALL);
    D3DCAPS9 caps;
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_REF);
}

TEST_F(DeviceTest, EveryResourceHoldsTheDevice) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DTexture9* texture = nullptr;
    IDirect3DSurface9* surface = nullptr;
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(84, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    ASSERT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &surface, nullptr), D3D_OK);
    ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    // The device itself plus four children.
    device_->AddRef();
    EXPECT_EQ(device_->Release(), 5u);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_);
    EXPECT_EQ(owner->Release(), 5u);
    // A leaked resource keeps the device alive when its holder lets go.
    EXPECT_EQ(back->Release(), 0u);
    EXPECT_EQ(surface->Release(), 0u);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(device_->Release(), 1u);
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);  // the last reference also frees the device
    device_ = nullptr;
}

TEST_F(DeviceTest, TheDeviceHoldsItsObject) {
    EXPECT_EQ(d3d_->AddRef(), 3u);
    EXPECT_EQ(d3d_->Release(), 2u);
}

TEST_F(DeviceTest, BoundObjectsOutliveTheirLastReferenceWithoutCounting) {
    IDirect3DTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    ASSERT_EQ(device_->CreateVertexBuffer(84, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    ASSERT_EQ(device_->SetStreamSource(0, buffer, 0, 28), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(buffer->Release(), 0u);
    IDirect3DBaseTexture9* stillBound = nullptr;
    ASSERT_EQ(device_->GetTexture(0, &stillBound), D3D_OK);
    EXPECT_EQ(stillBound, static_cast<IDirect3DBaseTexture9*>(texture));
    EXPECT_EQ(stillBound->GetLevelCount(), 1u);
    stillBound->Release();
    // Nothing but the device's own binding is left, and that does not count.
    device_->AddRef();
    EXPECT_EQ(device_->Release(), 1u);
}

TEST_F(DeviceTest, StateBlocksRecordWithoutApplyingThenCaptureAndApply) {
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    ASSERT_EQ(device_->BeginStateBlock(), D3D_OK);
    EXPECT_EQ(device_->BeginStateBlock(), D3DERR_INVALIDCALL);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(device_->EndStateBlock(&block), D3D_OK);
    ASSERT_NE(block, nullptr);
    DWORD value = 0;
    device_->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(TRUE)) << "recording must not change the device";

    ASSERT_EQ(block->Apply(), D3D_OK);
    device_->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(FALSE));
    device_->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, DWORD(D3DZB_FALSE));

    // Capture takes the device's current values of the recorded states only.
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetRenderState(D3DRS_AMBIENT, 0x123456);
    ASSERT_EQ(block->Capture(), D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_AMBIENT, 0x654321);
    block->Apply();
    device_->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(TRUE));
    device_->GetRenderState(D3DRS_AMBIENT, &value);
    EXPECT_EQ(value, 0x654321u) << "a state outside the block is left alone";
    EXPECT_EQ(block->Release(), 0u);
}

TEST_F(DeviceTest, SavedAndDrawStatesRoundTripLikeTheOverlay) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    IDirect3DStateBlock9* blocks[2] = {};
    for (IDirect3DStateBlock9*& block : blocks) {
        device_->BeginStateBlock();
        device_->SetTexture(0, texture);
        device_->SetRenderState(D3DRS_ZENABLE, FALSE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        device_->EndStateBlock(&block);
    }
    IDirect3DStateBlock9* saved = blocks[0];
    IDirect3DStateBlock9* draw = blocks[1];
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    saved->Capture();
    draw->Apply();
    IDirect3DBaseTexture9* bound = nullptr;
    device_->GetTexture(0, &bound);
    EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(texture));
    if (bound)
        bound->Release();
    saved->Apply();
    DWORD value = 0;
    device_->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, DWORD(D3DZB_TRUE));
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, DWORD(FALSE));
    device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_LINEAR));
    device_->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    saved->Release();
    draw->Release();
    EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(DeviceTest, ResetFailsWhileDefaultPoolResourcesLive) {
    IDirect3DVertexBuffer9* dynamicBuffer = nullptr;
    IDirect3DVertexBuffer9* managed = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(9600, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT,
                                          &dynamicBuffer, nullptr),
              D3D_OK);
    ASSERT_EQ(device_->CreateVertexBuffer(84, 0, 0, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DPRESENT_PARAMETERS p = windowedParams(200, 100);
    EXPECT_EQ(device_->Reset(&p), D3DERR_INVALIDCALL);
    dynamicBuffer->Release();

    // A held back buffer and a live state block also stand in the way.
    IDirect3DSurface9* back = nullptr;
    device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    EXPECT_EQ(device_->Reset(&p), D3DERR_INVALIDCALL);
    back->Release();
    IDirect3DStateBlock9* block = nullptr;
    device_->BeginStateBlock();
    device_->EndStateBlock(&block);
    EXPECT_EQ(device_->Reset(&p), D3DERR_INVALIDCALL);
    block->Release();

    ASSERT_EQ(device_->Reset(&p), D3D_OK);
    device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    back->Release();
    EXPECT_EQ(desc.Width, 200u);
    EXPECT_EQ(desc.Height, 100u);
    DWORD value = 0;
    device_->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(TRUE)) << "a reset brings back the default states";
    D3DVIEWPORT9 viewport;
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 200u);
    // The managed buffer survived and can still be locked.
    void* data = nullptr;
    EXPECT_EQ(managed->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_EQ(managed->Unlock(), D3D_OK);
    managed->Release();
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

TEST_F(DeviceTest, LocksCheckTheirRanges) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(100, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(90, 20, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(40, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    buffer->Unlock();
    D3DVERTEXBUFFER_DESC desc;
    buffer->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 100u);
    buffer->Release();
    EXPECT_EQ(device_->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3DERR_INVALIDCALL);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(10, 6, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_GE(locked.Pitch, 20);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "already locked";
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    const RECT outside = {0, 0, 11, 6};
    EXPECT_EQ(texture->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    texture->Release();
    ASSERT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr), D3D_OK);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "default pool without DYNAMIC";
    texture->Release();
    EXPECT_EQ(device_->CreateTexture(16, 16, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, DrawingOnlyInsideAScene) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(3 * 16, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &buffer, nullptr),
              D3D_OK);
    device_->SetStreamSource(0, buffer, 0, 16);
    device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL) << "past the end";
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL) << "inside a scene";
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK) << "no window: nothing to show";
    EXPECT_EQ(device_->SetPixelShader(nullptr), D3D_OK);
    buffer->Release();
}

TEST_F(DeviceTest, ClearHonoursRectanglesViewportAndDepthPresence) {
    const D3DRECT rect = {10, 20, 30, 25};
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device_->Clear(1, &rect, D3DCLEAR_TARGET, 0xFFA0B0C0, 1.0f, 0), D3D_OK);
    D3DVIEWPORT9 viewport = {100, 0, 60, 10, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL) << "D24X8 has no stencil";
    EXPECT_EQ(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    Image image;
    ASSERT_EQ(readBackBuffer(device_, &image), D3D_OK);
    EXPECT_EQ(image.at(10, 20) & 0xFFFFFF, 0xA0B0C0u);
    EXPECT_EQ(image.at(29, 24) & 0xFFFFFF, 0xA0B0C0u);
    EXPECT_EQ(image.at(30, 24) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(image.at(29, 25) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(image.at(100, 9) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(image.at(99, 9) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(image.at(100, 10) & 0xFFFFFF, 0x102030u);

    D3DPRESENT_PARAMETERS p = windowedParams();
    p.EnableAutoDepthStencil = FALSE;
    ASSERT_EQ(device_->Reset(&p), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    DWORD z = 1;
    device_->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, DWORD(D3DZB_FALSE)) << "no depth buffer, no depth test by default";
}

TEST_F(DeviceTest, UpdateSurfaceCopiesIntoTheBackBuffer) {
    IDirect3DSurface9* source = nullptr;
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(4, 3, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &source, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(source->LockRect(&locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch)[x] = DWORD(0x010000 * x + y);
    source->UnlockRect();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    IDirect3DSurface9* back = nullptr;
    device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    const POINT at = {50, 60};
    const RECT part = {1, 1, 4, 3};
    ASSERT_EQ(device_->UpdateSurface(source, &part, back, &at), D3D_OK);
    const POINT tooFar = {kWidth - 2, 0};
    EXPECT_EQ(device_->UpdateSurface(source, &part, back, &tooFar), D3DERR_INVALIDCALL);
    back->Release();
    source->Release();
    Image image;
    ASSERT_EQ(readBackBuffer(device_, &image), D3D_OK);
    EXPECT_EQ(image.at(50, 60) & 0xFFFFFF, 0x010001u);
    EXPECT_EQ(image.at(52, 61) & 0xFFFFFF, 0x030002u);
    EXPECT_EQ(image.at(53, 61) & 0xFFFFFF, 0u);
    EXPECT_EQ(image.at(49, 60) & 0xFFFFFF, 0u);
}

TEST_F(DeviceTest, LightsAndTransformsReadBack) {
    D3DLIGHT9 light{};
    EXPECT_EQ(device_->GetLight(3, &light), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->LightEnable(3, TRUE), D3D_OK);
    ASSERT_EQ(device_->GetLight(3, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Direction.z, 1.0f);
    light.Direction = {0, 0, 0};
    EXPECT_EQ(device_->SetLight(3, &light), D3DERR_INVALIDCALL) << "a directional light needs a direction";
    BOOL enabled = FALSE;
    device_->GetLightEnable(3, &enabled);
    EXPECT_TRUE(enabled);
    D3DMATRIX m{};
    m._11 = 2;
    m._44 = 1;
    ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &m), D3D_OK);
    D3DMATRIX back{};
    device_->GetTransform(D3DTS_WORLD, &back);
    EXPECT_EQ(back._11, 2.0f);
    device_->GetTransform(D3DTS_VIEW, &back);
    EXPECT_EQ(back._11, 1.0f);
}

}  // namespace

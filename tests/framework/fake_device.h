// A device that offers only what SetDeviceCursor needs: scratch surfaces in
// memory (with a configurable row pitch and failures) and a record of the
// cursor it was given. Everything else answers E_NOTIMPL.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

class FakeSurface : public IDirect3DSurface9 {
public:
    FakeSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, int pitch)
        : width_(width), height_(height), format_(format), pool_(pool), pitch_(pitch),
          bytes_(static_cast<std::size_t>(pitch) * height, 0xCD) {}

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }  // the test keeps the object
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override { return E_NOTIMPL; }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        if (failLock)
            return E_FAIL;
        locked->pBits = bytes_.data();
        locked->Pitch = pitch_;
        ++locks;
        return D3D_OK;
    }
    HRESULT UnlockRect() override {
        ++unlocks;
        return D3D_OK;
    }

    std::uint32_t pixel(UINT x, UINT y) const {
        return *reinterpret_cast<const std::uint32_t*>(bytes_.data() + static_cast<std::size_t>(y) * pitch_ + x * 4);
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    UINT width_, height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    int pitch_;
    ULONG references_ = 1;
    bool failLock = false;
    int locks = 0, unlocks = 0;

private:
    std::vector<std::uint8_t> bytes_;
};

class FakeDevice : public IDirect3DDevice9 {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* shared) override {
        if (failCreate != D3D_OK)
            return failCreate;
        surfaces.emplace_back(new FakeSurface(width, height, format, pool, static_cast<int>(width * 4 + extraPitch)));
        surfaces.back()->failLock = failLock;
        *surface = surfaces.back();
        return D3D_OK;
    }
    HRESULT SetCursorProperties(UINT x, UINT y, IDirect3DSurface9* bitmap) override {
        hotSpotX = x;
        hotSpotY = y;
        cursorSurface = static_cast<FakeSurface*>(bitmap);
        return cursorResult;
    }
    ~FakeDevice() {
        for (FakeSurface* s : surfaces)
            delete s;
    }

    // Knobs.
    HRESULT failCreate = D3D_OK;
    HRESULT cursorResult = D3D_OK;
    bool failLock = false;
    UINT extraPitch = 0;
    // Record.
    std::vector<FakeSurface*> surfaces;
    FakeSurface* cursorSurface = nullptr;
    UINT hotSpotX = ~0u, hotSpotY = ~0u;

    HRESULT TestCooperativeLevel() override { return E_NOTIMPL; }
    HRESULT GetDirect3D(IDirect3D9** ppD3D9) override { return E_NOTIMPL; }
    HRESULT GetDeviceCaps(D3DCAPS9* pCaps) override { return E_NOTIMPL; }
    HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override { return E_NOTIMPL; }
    void SetCursorPosition(int X, int Y, DWORD Flags) override {}
    BOOL ShowCursor(BOOL bShow) override { return 0; }
    HRESULT Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override { return E_NOTIMPL; }
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride, const RGNDATA* pDirtyRegion) override { return E_NOTIMPL; }
    HRESULT GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type, IDirect3DSurface9** ppBackBuffer) override { return E_NOTIMPL; }
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override { return E_NOTIMPL; }
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool, IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override { return E_NOTIMPL; }
    HRESULT UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect, IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) override { return E_NOTIMPL; }
    HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) override { return E_NOTIMPL; }
    HRESULT BeginScene() override { return E_NOTIMPL; }
    HRESULT EndScene() override { return E_NOTIMPL; }
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil) override { return E_NOTIMPL; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override { return E_NOTIMPL; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override { return E_NOTIMPL; }
    HRESULT SetViewport(const D3DVIEWPORT9* pViewport) override { return E_NOTIMPL; }
    HRESULT GetViewport(D3DVIEWPORT9* pViewport) override { return E_NOTIMPL; }
    HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) override { return E_NOTIMPL; }
    HRESULT GetMaterial(D3DMATERIAL9* pMaterial) override { return E_NOTIMPL; }
    HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) override { return E_NOTIMPL; }
    HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) override { return E_NOTIMPL; }
    HRESULT LightEnable(DWORD Index, BOOL Enable) override { return E_NOTIMPL; }
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override { return E_NOTIMPL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override { return E_NOTIMPL; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override { return E_NOTIMPL; }
    HRESULT BeginStateBlock() override { return E_NOTIMPL; }
    HRESULT EndStateBlock(IDirect3DStateBlock9** ppSB) override { return E_NOTIMPL; }
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override { return E_NOTIMPL; }
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override { return E_NOTIMPL; }
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override { return E_NOTIMPL; }
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override { return E_NOTIMPL; }
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override { return E_NOTIMPL; }
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override { return E_NOTIMPL; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override { return E_NOTIMPL; }
    HRESULT SetFVF(DWORD FVF) override { return E_NOTIMPL; }
    HRESULT GetFVF(DWORD* pFVF) override { return E_NOTIMPL; }
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes, UINT Stride) override { return E_NOTIMPL; }
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes, UINT* pStride) override { return E_NOTIMPL; }
    HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) override { return E_NOTIMPL; }
    HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) override { return E_NOTIMPL; }
};

#pragma GCC diagnostic pop

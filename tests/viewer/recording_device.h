// A device at the layer's boundary that writes down every call the viewer
// makes, in order, and hands it on to a real device (REF, windowless), so
// that the same test sees both the calls and what they produced. Vertex
// buffers are wrapped too, so that their locks land in the same record.
// Knobs make single calls fail.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

class RecordingDevice;

class RecordingVertexBuffer : public IDirect3DVertexBuffer9 {
public:
    RecordingVertexBuffer(RecordingDevice* owner, IDirect3DVertexBuffer9* real) : owner_(owner), real_(real) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override { return real_->GetDevice(device); }
    D3DRESOURCETYPE GetType() override { return real_->GetType(); }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override { return real_->GetDesc(desc); }

    IDirect3DVertexBuffer9* real() const { return real_; }
    ULONG references() const { return references_; }

private:
    RecordingDevice* owner_;
    IDirect3DVertexBuffer9* real_;
    ULONG references_ = 1;
};

class RecordingDevice : public IDirect3DDevice9 {
public:
    explicit RecordingDevice(IDirect3DDevice9* real) : real_(real) {}
    ~RecordingDevice() override = default;

    // Knobs.
    DWORD maxTextureWidth = 0;  // 0: the real device's
    HRESULT createVertexBufferResult = D3D_OK;
    HRESULT createTextureResult = D3D_OK;
    HRESULT lockResult = D3D_OK;
    HRESULT beginSceneResult = D3D_OK;
    HRESULT createSurfaceResult = D3D_OK;

    // Record.
    std::vector<std::string> calls;
    std::map<int, D3DMATRIX> transforms;
    D3DMATERIAL9 material{};
    D3DLIGHT9 light{};
    std::vector<std::unique_ptr<RecordingVertexBuffer>> buffers;
    IDirect3DTexture9* lastTexture = nullptr;  // not held
    // The vertices of every draw of pre-transformed (overlay) vertices, as
    // the buffer held them when the draw was made.
    struct OverlayVertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
        float u, v;
    };
    std::vector<std::vector<OverlayVertex>> overlayDraws;
    int liveBuffers = 0;

    void log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[160];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        calls.emplace_back(text);
    }
    // The calls whose text starts with `prefix`, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0)
                found.push_back(c);
        return found;
    }
    IDirect3DDevice9* real() const { return real_; }

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }  // the test owns the real device

    HRESULT TestCooperativeLevel() override { return real_->TestCooperativeLevel(); }
    HRESULT GetDirect3D(IDirect3D9** d3d) override { return real_->GetDirect3D(d3d); }
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override {
        log("GetDeviceCaps");
        HRESULT hr = real_->GetDeviceCaps(caps);
        if (maxTextureWidth)
            caps->MaxTextureWidth = caps->MaxTextureHeight = maxTextureWidth;
        return hr;
    }
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override { return real_->GetDisplayMode(swapChain, mode); }
    HRESULT SetCursorProperties(UINT x, UINT y, IDirect3DSurface9* bitmap) override {
        return real_->SetCursorProperties(x, y, bitmap);
    }
    void SetCursorPosition(int x, int y, DWORD flags) override { real_->SetCursorPosition(x, y, flags); }
    BOOL ShowCursor(BOOL show) override { return real_->ShowCursor(show); }
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override { return real_->Reset(params); }
    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) override {
        log("Present");
        return real_->Present(source, dest, window, dirty);
    }
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** buffer) override {
        return real_->GetBackBuffer(swapChain, index, type, buffer);
    }
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* shared) override {
        log("CreateTexture %u %u %u %lu %d %d", width, height, levels, (unsigned long)usage, int(format), int(pool));
        if (FAILED(createTextureResult))
            return createTextureResult;
        HRESULT hr = real_->CreateTexture(width, height, levels, usage, format, pool, texture, shared);
        if (SUCCEEDED(hr))
            lastTexture = *texture;
        return hr;
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* shared) override {
        log("CreateVertexBuffer %u 0x%lx 0x%lx %d", length, (unsigned long)usage, (unsigned long)fvf, int(pool));
        if (FAILED(createVertexBufferResult))
            return createVertexBufferResult;
        IDirect3DVertexBuffer9* real = nullptr;
        HRESULT hr = real_->CreateVertexBuffer(length, usage, fvf, pool, &real, shared);
        if (FAILED(hr))
            return hr;
        buffers.push_back(std::make_unique<RecordingVertexBuffer>(this, real));
        ++liveBuffers;
        *buffer = buffers.back().get();
        return hr;
    }
    HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* rect, IDirect3DSurface9* dest,
                          const POINT* point) override {
        log("UpdateSurface %ld %ld %ld %ld -> %ld %ld", rect ? long(rect->left) : -1L, rect ? long(rect->top) : -1L,
            rect ? long(rect->right) : -1L, rect ? long(rect->bottom) : -1L, point ? long(point->x) : -1L,
            point ? long(point->y) : -1L);
        return real_->UpdateSurface(source, rect, dest, point);
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9* target, IDirect3DSurface9* dest) override {
        return real_->GetRenderTargetData(target, dest);
    }
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* shared) override {
        log("CreateOffscreenPlainSurface %u %u %d %d", width, height, int(format), int(pool));
        if (FAILED(createSurfaceResult))
            return createSurfaceResult;
        return real_->CreateOffscreenPlainSurface(width, height, format, pool, surface, shared);
    }
    HRESULT BeginScene() override {
        log("BeginScene");
        return FAILED(beginSceneResult) ? beginSceneResult : real_->BeginScene();
    }
    HRESULT EndScene() override {
        log("EndScene");
        return real_->EndScene();
    }
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override {
        log("Clear %lu %lu 0x%08lx %g %lu", (unsigned long)count, (unsigned long)flags, (unsigned long)colour, z,
            (unsigned long)stencil);
        return real_->Clear(count, rects, flags, colour, z, stencil);
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        log("SetTransform %d", int(state));
        transforms[int(state)] = *matrix;
        return real_->SetTransform(state, matrix);
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        return real_->GetTransform(state, matrix);
    }
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override { return real_->SetViewport(viewport); }
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override { return real_->GetViewport(viewport); }
    HRESULT SetMaterial(const D3DMATERIAL9* m) override {
        log("SetMaterial");
        material = *m;
        return real_->SetMaterial(m);
    }
    HRESULT GetMaterial(D3DMATERIAL9* m) override { return real_->GetMaterial(m); }
    HRESULT SetLight(DWORD index, const D3DLIGHT9* l) override {
        log("SetLight %lu", (unsigned long)index);
        light = *l;
        return real_->SetLight(index, l);
    }
    HRESULT GetLight(DWORD index, D3DLIGHT9* l) override { return real_->GetLight(index, l); }
    HRESULT LightEnable(DWORD index, BOOL enable) override {
        log("LightEnable %lu %d", (unsigned long)index, int(enable));
        return real_->LightEnable(index, enable);
    }
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override { return real_->GetLightEnable(index, enable); }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        log("SetRenderState %d 0x%lx", int(state), (unsigned long)value);
        return real_->SetRenderState(state, value);
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        return real_->GetRenderState(state, value);
    }
    HRESULT BeginStateBlock() override {
        log("BeginStateBlock");
        return real_->BeginStateBlock();
    }
    HRESULT EndStateBlock(IDirect3DStateBlock9** block) override {
        log("EndStateBlock");
        return real_->EndStateBlock(block);
    }
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override {
        return real_->GetTexture(stage, texture);
    }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override {
        log("SetTexture %lu %s", (unsigned long)stage, texture ? "texture" : "none");
        return real_->SetTexture(stage, texture);
    }
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override {
        return real_->GetTextureStageState(stage, type, value);
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        log("SetTextureStageState %lu %d 0x%lx", (unsigned long)stage, int(type), (unsigned long)value);
        return real_->SetTextureStageState(stage, type, value);
    }
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override {
        return real_->GetSamplerState(sampler, type, value);
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override {
        log("SetSamplerState %lu %d 0x%lx", (unsigned long)sampler, int(type), (unsigned long)value);
        return real_->SetSamplerState(sampler, type, value);
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override {
        log("DrawPrimitive %d %u %u", int(type), start, count);
        if (fvf_ == (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1) && stream_) {
            OverlayVertex* data = nullptr;
            if (SUCCEEDED(stream_->Lock(0, 0, reinterpret_cast<void**>(&data), D3DLOCK_READONLY))) {
                overlayDraws.emplace_back(data + start, data + start + 3 * count);
                stream_->Unlock();
            }
        }
        return real_->DrawPrimitive(type, start, count);
    }
    HRESULT SetFVF(DWORD fvf) override {
        log("SetFVF 0x%lx", (unsigned long)fvf);
        fvf_ = fvf;
        return real_->SetFVF(fvf);
    }
    HRESULT GetFVF(DWORD* fvf) override { return real_->GetFVF(fvf); }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override {
        log("SetStreamSource %u %s %u %u", stream, buffer ? "buffer" : "none", offset, stride);
        IDirect3DVertexBuffer9* real = buffer ? static_cast<RecordingVertexBuffer*>(buffer)->real() : nullptr;
        stream_ = real;
        return real_->SetStreamSource(stream, real, offset, stride);
    }
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override {
        return real_->GetStreamSource(stream, buffer, offset, stride);
    }
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override {
        log("SetPixelShader %s", shader ? "shader" : "none");
        return real_->SetPixelShader(shader);
    }
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override { return real_->GetPixelShader(shader); }

private:
    IDirect3DDevice9* real_;
    IDirect3DVertexBuffer9* stream_ = nullptr;
    DWORD fvf_ = 0;
};

inline ULONG RecordingVertexBuffer::Release() {
    if (--references_ == 0) {
        real_->Release();
        --owner_->liveBuffers;
    }
    return references_;
}

inline HRESULT RecordingVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    owner_->log("Lock %u %u 0x%lx", offset, size, (unsigned long)flags);
    if (FAILED(owner_->lockResult))
        return owner_->lockResult;
    return real_->Lock(offset, size, data, flags);
}

inline HRESULT RecordingVertexBuffer::Unlock() {
    owner_->log("Unlock");
    return real_->Unlock();
}

#pragma GCC diagnostic pop

#include "viewer/bitmap_font.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "platform/gdi/wingdi.h"

BitmapFont::BitmapFont(const char* faceName, DWORD height, DWORD flags)
    : height(height), flags(flags), device(nullptr), texture(nullptr), vertexBuffer(nullptr), textureWidth(0),
      textureHeight(0), textScale(1.0f), glyphCoords{}, spacing(0), savedStates(nullptr), drawStates(nullptr),
      pixelsPerInch(96) {
    std::strncpy(this->faceName, faceName ? faceName : "", sizeof this->faceName - 1);
    this->faceName[sizeof this->faceName - 1] = '\0';
}

BitmapFont::~BitmapFont() {
    ReleaseDrawStates();
    ReleaseGlyphTexture();
}

HRESULT BitmapFont::CreateGlyphTexture(IDirect3DDevice9* device) {
    this->device = device;
    textScale = 1.0f;

    // The glyphs grow with the screen's resolution and the texture with
    // them: at twice 96 pixels per inch they need four times the room.
    HDC screen = CreateCompatibleDC(nullptr);
    pixelsPerInch = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        DeleteDC(screen);
    const int sizedHeight = MulDiv(static_cast<int>(height), pixelsPerInch, 96);
    if (sizedHeight > 60)
        textureWidth = textureHeight = 2048;
    else if (sizedHeight > 30)
        textureWidth = textureHeight = 1024;
    else if (sizedHeight > 15)
        textureWidth = textureHeight = 512;
    else
        textureWidth = textureHeight = 256;

    D3DCAPS9 caps{};
    device->GetDeviceCaps(&caps);
    if (textureWidth > caps.MaxTextureWidth) {
        textScale = static_cast<float>(caps.MaxTextureWidth) / static_cast<float>(textureWidth);
        textureWidth = textureHeight = caps.MaxTextureWidth;
    }

    HRESULT hr = device->CreateTexture(textureWidth, textureHeight, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture,
                                       nullptr);
    if (FAILED(hr))
        return hr;
    return RasterizeGlyphs();
}

// Draws every character into a DIB section and copies its coverage into the
// texture's alpha. Every GDI object made here is given back on every path.
HRESULT BitmapFont::RasterizeGlyphs() {
    HDC context = CreateCompatibleDC(nullptr);
    if (!context)
        return E_FAIL;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(textureWidth);
    info.bmiHeader.biHeight = -static_cast<LONG>(textureHeight);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    DWORD* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(context, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    if (!bitmap) {
        DeleteDC(context);
        return E_FAIL;
    }
    SetMapMode(context, MM_TEXT);

    const int pixelHeight = MulDiv(static_cast<int>(height),
                                   static_cast<int>(GetDeviceCaps(context, LOGPIXELSY) * textScale), 72);
    HFONT font = CreateFontA(-pixelHeight, 0, 0, 0, (flags & FontBold) ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH, faceName);
    if (!font) {
        DeleteDC(context);
        DeleteObject(bitmap);
        return E_FAIL;
    }

    HGDIOBJ oldBitmap = SelectObject(context, bitmap);
    HGDIOBJ oldFont = SelectObject(context, font);
    SetTextColor(context, 0x00FFFFFF);
    SetBkColor(context, 0x00000000);
    SetTextAlign(context, TA_TOP);

    SIZE size{};
    GetTextExtentPoint32A(context, " ", 1, &size);
    spacing = static_cast<DWORD>(std::ceil(static_cast<float>(size.cy) * 0.3f));
    DWORD x = spacing;
    DWORD y = 0;

    for (int ch = 32; ch < 127; ++ch) {
        const char text[2] = {static_cast<char>(ch), '\0'};
        GetTextExtentPoint32A(context, text, 1, &size);
        const DWORD cx = static_cast<DWORD>(size.cx);
        const DWORD cy = static_cast<DWORD>(size.cy);
        if (x + cx + spacing > textureWidth) {
            x = spacing;
            y += cy + 1;
        }
        ExtTextOutA(context, static_cast<int>(x), static_cast<int>(y), ETO_OPAQUE, nullptr, text, 1, nullptr);
        float* coords = glyphCoords[ch - 32];
        coords[0] = static_cast<float>(x - spacing) / static_cast<float>(textureWidth);
        coords[1] = static_cast<float>(y) / static_cast<float>(textureHeight);
        coords[2] = static_cast<float>(x + cx + spacing) / static_cast<float>(textureWidth);
        coords[3] = static_cast<float>(y + cy) / static_cast<float>(textureHeight);
        x += cx + 2 * spacing;
    }

    D3DLOCKED_RECT locked{};
    HRESULT hr = texture->LockRect(0, &locked, nullptr, 0);
    if (SUCCEEDED(hr)) {
        BYTE* row = static_cast<BYTE*>(locked.pBits);
        for (DWORD r = 0; r < textureHeight; ++r) {
            WORD* texel = reinterpret_cast<WORD*>(row);
            for (DWORD k = 0; k < textureWidth; ++k) {
                const DWORD s = bits[r * textureWidth + k];
                const WORD a = static_cast<WORD>((s >> 4) & 0xF);
                texel[k] = a > 0 ? static_cast<WORD>((a << 12) | 0x0FFF) : 0;
            }
            row += locked.Pitch;
        }
        texture->UnlockRect(0);
        hr = S_OK;
    }

    SelectObject(context, oldBitmap);
    SelectObject(context, oldFont);
    DeleteObject(bitmap);
    DeleteObject(font);
    DeleteDC(context);
    return hr;
}

HRESULT BitmapFont::RestoreDrawStates() {
    HRESULT hr = device->CreateVertexBuffer(GlyphBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0,
                                            D3DPOOL_DEFAULT, &vertexBuffer, nullptr);
    if (FAILED(hr))
        return hr;
    for (IDirect3DStateBlock9** block : {&savedStates, &drawStates}) {
        device->BeginStateBlock();
        RecordDrawStates();
        device->EndStateBlock(block);
    }
    return S_OK;
}

void BitmapFont::RecordDrawStates() {
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAREF, 0x08);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    device->SetRenderState(D3DRS_CLIPPING, TRUE);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0x0F);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
}

namespace {
template <class Interface>
void releaseHeld(Interface*& held) {
    if (held) {
        held->Release();
        held = nullptr;
    }
}
}  // namespace

HRESULT BitmapFont::ReleaseDrawStates() {
    releaseHeld(vertexBuffer);
    releaseHeld(savedStates);
    releaseHeld(drawStates);
    return S_OK;
}

HRESULT BitmapFont::ReleaseGlyphTexture() {
    releaseHeld(texture);
    device = nullptr;
    return S_OK;
}

HRESULT BitmapFont::DrawString(float x, float y, DWORD colour, const char* text) {
    if (!device)
        return E_FAIL;
    // Without its buffer or state blocks (their creation failed) the font
    // has nothing to draw with; refusing beats following a null pointer.
    if (!vertexBuffer || !savedStates || !drawStates || !text)
        return E_FAIL;

    savedStates->Capture();
    drawStates->Apply();
    device->SetFVF(GlyphVertexFvf);
    device->SetPixelShader(nullptr);
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(GlyphVertex));

    x -= spacing;
    const float startX = x;

    GlyphVertex* vertices = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, reinterpret_cast<void**>(&vertices), D3DLOCK_DISCARD))) {
        savedStates->Apply();
        return E_FAIL;
    }
    DWORD triangles = 0;
    for (const char* c = text; *c; ++c) {
        const signed char ch = static_cast<signed char>(*c);
        if (ch == '\n') {
            x = startX;
            y += (glyphCoords[0][3] - glyphCoords[0][1]) * textureHeight;
        }
        if (ch < 32 || ch > 126)
            continue;
        const float* coords = glyphCoords[ch - 32];
        const float uLeft = coords[0], vTop = coords[1], uRight = coords[2], vBottom = coords[3];
        const float w = (uRight - uLeft) * textureWidth / textScale;
        const float h = (vBottom - vTop) * textureHeight / textScale;

        if (ch != ' ') {
            const float left = x - 0.5f, top = y - 0.5f, right = x + w - 0.5f, bottom = y + h - 0.5f;
            *vertices++ = {left, bottom, 0.9f, 1.0f, colour, uLeft, vBottom};
            *vertices++ = {left, top, 0.9f, 1.0f, colour, uLeft, vTop};
            *vertices++ = {right, bottom, 0.9f, 1.0f, colour, uRight, vBottom};
            *vertices++ = {right, top, 0.9f, 1.0f, colour, uRight, vTop};
            *vertices++ = {right, bottom, 0.9f, 1.0f, colour, uRight, vBottom};
            *vertices++ = {left, top, 0.9f, 1.0f, colour, uLeft, vTop};
            triangles += 2;
            if (triangles * 3 > GlyphBatchVertices - 6) {
                vertexBuffer->Unlock();
                device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
                vertices = nullptr;
                if (FAILED(vertexBuffer->Lock(0, 0, reinterpret_cast<void**>(&vertices), D3DLOCK_DISCARD))) {
                    savedStates->Apply();
                    return E_FAIL;
                }
                triangles = 0;
            }
        }
        x += w - 2 * spacing;
    }
    vertexBuffer->Unlock();
    if (triangles > 0)
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);

    savedStates->Apply();
    return S_OK;
}

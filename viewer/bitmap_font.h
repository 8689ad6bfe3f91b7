// Screen-space text from one GDI font rasterised once per device into an
// alpha texture of the printable ASCII characters. Strings are drawn as
// textured quads from a small dynamic vertex buffer, inside the font's own
// states; the caller's states are put back afterwards.
#pragma once

#include "platform/d3d9/d3d9.h"

#define FontBold 0x0001

struct GlyphVertex {
    float x, y, z, rhw;  // back-buffer pixels
    D3DCOLOR colour;
    float u, v;
};
static_assert(sizeof(GlyphVertex) == 28, "glyph vertices are 28 bytes");
inline constexpr DWORD GlyphVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Room for 300 vertices of up to 32 bytes; a batch holds 50 characters.
inline constexpr UINT GlyphBufferBytes = 9600;
inline constexpr UINT GlyphBatchVertices = 300;

class BitmapFont {
public:
    BitmapFont(const char* faceName, DWORD height, DWORD flags);
    ~BitmapFont();
    BitmapFont(const BitmapFont&) = delete;
    BitmapFont& operator=(const BitmapFont&) = delete;

    HRESULT CreateGlyphTexture(IDirect3DDevice9* device);
    HRESULT RestoreDrawStates();
    HRESULT ReleaseDrawStates();
    HRESULT ReleaseGlyphTexture();

    // (x, y) is the top-left of the first character's cell, in back-buffer
    // pixels; colour is ARGB. A line feed starts a new line at x.
    HRESULT DrawString(float x, float y, DWORD colour, const char* text);

    // What the glyph texture came out as, for those who lay text out.
    DWORD TextureWidth() const { return textureWidth; }
    DWORD TextureHeight() const { return textureHeight; }
    float TextScale() const { return textScale; }
    // The screen's pixels per logical pixel when the texture was made (2 at
    // 192 pixels per inch): text laid out at this scale keeps its size on
    // the screen.
    float ScreenScale() const { return static_cast<float>(pixelsPerInch) / 96.0f; }
    DWORD Spacing() const { return spacing; }
    // uLeft, vTop, uRight, vBottom of a character 32 ... 126.
    const float* GlyphCoords(char ch) const { return glyphCoords[static_cast<unsigned char>(ch) - 32]; }

private:
    HRESULT RasterizeGlyphs();
    void RecordDrawStates();

    char faceName[80];
    DWORD height;
    DWORD flags;
    IDirect3DDevice9* device;
    IDirect3DTexture9* texture;
    IDirect3DVertexBuffer9* vertexBuffer;
    DWORD textureWidth;
    DWORD textureHeight;
    float textScale;
    float glyphCoords[96][4];
    DWORD spacing;
    IDirect3DStateBlock9* savedStates;
    IDirect3DStateBlock9* drawStates;
    int pixelsPerInch;
};

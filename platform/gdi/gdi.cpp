// Device contexts, bitmaps and fonts on QImage, QPainter and QFont.
//
// Handles are pointers to the objects below, but every call first looks the
// handle up in the table of live objects, so a stale or foreign handle (such
// as a window context from GetDC) fails the call instead of being followed.
// Pixels are 0x00RRGGBB as GDI writes them: after drawing, the byte Qt uses
// for alpha is cleared again.
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/gdi/gdi_internal.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/gdi/wingdi.h"
#include "platform/win32/winbase.h"

struct HBITMAP__ {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;  // as reported; pixels are always held as 32-bit
    bool topDown = true;
    bool dibSection = false;
    std::unique_ptr<std::uint32_t[]> pixels;  // memory rows, width apart
    HDC selectedInto = nullptr;
};

struct HFONT__ {
    LOGFONTA description{};
    QFont font;
    int selections = 0;
};

struct HBRUSH__ {
    QColor colour;
    bool hollow = false;
};

struct HDC__ {
    HBITMAP bitmap = nullptr;
    HFONT font = nullptr;
    COLORREF textColour = RGB(0, 0, 0);
    COLORREF backgroundColour = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
    UINT textAlign = TA_LEFT | TA_TOP;
    int mapMode = MM_TEXT;
};

namespace platform::gdi {
namespace {

enum class Kind { Context, Bitmap, Font, Brush };

struct Objects {
    std::recursive_mutex mutex;
    std::unordered_map<const void*, Kind> live;
    std::unordered_map<const void*, bool> stock;  // never deleted
    HBITMAP stockBitmap = nullptr;
    HFONT systemFont = nullptr;
    HFONT guiFont = nullptr;
    HBRUSH brushes[6] = {};
};

Objects& objects() {
    static Objects* all = new Objects;  // outlives every static destructor that may still delete
    return *all;
}

template <typename T>
T* lookup(const void* handle, Kind kind) {
    auto it = objects().live.find(handle);
    if (handle == nullptr || it == objects().live.end() || it->second != kind)
        return nullptr;
    return static_cast<T*>(const_cast<void*>(handle));
}

HDC__* contextOf(HDC h) { return lookup<HDC__>(h, Kind::Context); }
HBITMAP__* bitmapOf(const void* h) { return lookup<HBITMAP__>(h, Kind::Bitmap); }
HFONT__* fontOf(const void* h) { return lookup<HFONT__>(h, Kind::Font); }

// The setters of a context's drawing state: the old value back, or failure
// for a context that is not there or a value it does not take.
template <typename T>
T exchangeState(HDC context, T HDC__::*field, std::type_identity_t<T> value, std::type_identity_t<T> failure,
                bool accepted = true) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    if (dc == nullptr || !accepted)
        return failure;
    return std::exchange(dc->*field, value);
}

bool guiUp() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QColor toQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

HBITMAP makeBitmap(int width, int height, int bitsPerPixel, bool topDown, bool dibSection) {
    auto* bitmap = new (std::nothrow) HBITMAP__;
    if (bitmap == nullptr)
        return nullptr;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = bitsPerPixel;
    bitmap->topDown = topDown;
    bitmap->dibSection = dibSection;
    bitmap->pixels.reset(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(width) * height]());
    if (!bitmap->pixels) {
        delete bitmap;
        return nullptr;
    }
    objects().live[bitmap] = Kind::Bitmap;
    return bitmap;
}

// The font a face name and LOGFONT describe, resolved by the font database.
QFont qtFontFor(const LOGFONTA& lf) {
    QString face = QString::fromLatin1(lf.lfFaceName, static_cast<int>(strnlen(lf.lfFaceName, LF_FACESIZE)));
    if (face.isEmpty())
        face = (lf.lfPitchAndFamily & 3) == FIXED_PITCH ? QStringLiteral("Courier New") : QStringLiteral("Arial");
    QFont font(face);
    font.setStyleHint((lf.lfPitchAndFamily & 3) == FIXED_PITCH ? QFont::TypeWriter : QFont::SansSerif);
    int weight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : lf.lfWeight;
    font.setWeight(static_cast<QFont::Weight>(weight < 1 ? 1 : weight > 1000 ? 1000 : weight));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    font.setKerning(false);  // GDI's extents are plain sums of advances
    QFont::StyleStrategy strategy = QFont::NoSubpixelAntialias;
    if (lf.lfQuality == NONANTIALIASED_QUALITY)
        strategy = QFont::StyleStrategy(strategy | QFont::NoAntialias);
    else
        strategy = QFont::StyleStrategy(strategy | QFont::PreferAntialias);
    font.setStyleStrategy(strategy);

    // GDI: a negative height is the em height, a positive one the cell height;
    // for the latter take the largest em whose cell still fits.
    int height = lf.lfHeight == 0 ? 16 : std::abs(lf.lfHeight);
    height = height > 4096 ? 4096 : height;
    font.setPixelSize(height);
    if (lf.lfHeight > 0) {
        auto cellAt = [&font](int em) {
            font.setPixelSize(em);
            QFontMetricsF exact(font);
            return static_cast<int>(std::ceil(exact.ascent())) + static_cast<int>(std::ceil(exact.descent()));
        };
        int em = height;
        int cell = cellAt(em);
        if (cell > 0)
            em = static_cast<int>(static_cast<long long>(height) * height / cell);
        em = em < 1 ? 1 : em;
        while (em > 1 && cellAt(em) > height)
            --em;
        while (cellAt(em + 1) <= height)
            ++em;
        font.setPixelSize(em);
    }
    return font;
}

HFONT makeFont(const LOGFONTA& lf) {
    auto* font = new (std::nothrow) HFONT__;
    if (font == nullptr)
        return nullptr;
    font->description = lf;
    font->font = qtFontFor(lf);
    objects().live[font] = Kind::Font;
    return font;
}

HBITMAP stockBitmap() {
    Objects& all = objects();
    if (all.stockBitmap == nullptr) {
        all.stockBitmap = makeBitmap(1, 1, 1, true, false);
        all.stock[all.stockBitmap] = true;
    }
    return all.stockBitmap;
}

HFONT stockFont(int index) {
    Objects& all = objects();
    HFONT& slot = index == SYSTEM_FONT ? all.systemFont : all.guiFont;
    if (slot == nullptr && guiUp()) {
        LOGFONTA lf{};
        lf.lfHeight = index == SYSTEM_FONT ? 16 : -11;
        lf.lfWeight = index == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
        lf.lfQuality = DEFAULT_QUALITY;
        std::strcpy(lf.lfFaceName, "Arial");
        slot = makeFont(lf);
        all.stock[slot] = true;
    }
    return slot;
}

// The text in the ANSI code page as Qt text.
QString decode(LPCSTR text, int length) {
    if (text == nullptr || length <= 0)
        return {};
    std::u16string wide(static_cast<std::size_t>(length), u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), length);
    return QString::fromUtf16(wide.data(), n);
}

// A painter on the context's bitmap with y growing downwards in both row
// orders. Only the rows a drawing call can touch are prepared for Qt and
// given back their GDI form afterwards.
struct Canvas {
    HBITMAP__* bitmap;
    QImage image;
    std::unique_ptr<QPainter> painter;
    int firstRow = 0;  // memory rows [firstRow, endRow)
    int endRow = 0;

    Canvas(HBITMAP__* b, QRect area)
        : bitmap(b),
          image(reinterpret_cast<uchar*>(b->pixels.get()), b->width, b->height, b->width * 4, QImage::Format_RGB32) {
        area = area.intersected(QRect(0, 0, b->width, b->height));
        if (!area.isEmpty()) {
            firstRow = b->topDown ? area.top() : b->height - 1 - area.bottom();
            endRow = firstRow + area.height();
        }
        // Qt's RGB32 wants an opaque alpha byte; GDI's pixels have none.
        forceAlpha(0xFF000000u, ~0u);
        painter = std::make_unique<QPainter>(&image);
        if (!b->topDown) {
            painter->translate(0, b->height);
            painter->scale(1, -1);
        }
        painter->setClipRect(area);
    }
    ~Canvas() {
        painter.reset();
        forceAlpha(0u, 0x00FFFFFFu);
    }
    void forceAlpha(std::uint32_t set, std::uint32_t keep) {
        std::uint32_t* p = bitmap->pixels.get() + static_cast<std::size_t>(firstRow) * bitmap->width;
        std::size_t n = static_cast<std::size_t>(endRow - firstRow) * bitmap->width;
        for (std::size_t i = 0; i < n; ++i)
            p[i] = (p[i] & keep) | set;
    }
};

}  // namespace

bool brushColour(HBRUSH brush, QColor* colour) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    auto* b = lookup<HBRUSH__>(brush, Kind::Brush);
    if (b == nullptr || b->hollow)
        return false;
    if (colour != nullptr)
        *colour = b->colour;
    return true;
}

bool fontFor(HFONT font, QFont* qtFont) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HFONT__* f = fontOf(font);
    if (f == nullptr || !guiUp())
        return false;
    if (qtFont != nullptr)
        *qtFont = f->font;
    return true;
}

HBITMAP adoptPixels(int width, int height, int bitsPerPixel, const std::uint32_t* topDownPixels) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HBITMAP bitmap = makeBitmap(width, height, bitsPerPixel, true, false);
    if (bitmap != nullptr)
        std::memcpy(bitmap->pixels.get(), topDownPixels, static_cast<std::size_t>(width) * height * 4);
    return bitmap;
}

}  // namespace platform::gdi

using namespace platform::gdi;

HDC WINAPI CreateCompatibleDC(HDC) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    auto* context = new (std::nothrow) HDC__;
    if (context == nullptr)
        return nullptr;
    context->bitmap = stockBitmap();
    objects().live[context] = Kind::Context;
    return context;
}

BOOL WINAPI DeleteDC(HDC context) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    if (dc == nullptr)
        return FALSE;
    if (HBITMAP__* b = bitmapOf(dc->bitmap); b != nullptr && b->selectedInto == context)
        b->selectedInto = nullptr;
    if (HFONT__* f = fontOf(dc->font))
        --f->selections;
    objects().live.erase(dc);
    delete dc;
    return TRUE;
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    if (bits != nullptr)
        *bits = nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr)
        return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const long long height = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biBitCount != 32 || h.biCompression != BI_RGB ||
        h.biWidth <= 0 || height == 0 || static_cast<long long>(h.biWidth) * height > (1LL << 28)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HBITMAP bitmap = makeBitmap(h.biWidth, static_cast<int>(height), 32, h.biHeight < 0, true);
    if (bitmap == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bits != nullptr)
        *bits = bitmap->pixels.get();
    return bitmap;
}

HGDIOBJ WINAPI SelectObject(HDC context, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    if (dc == nullptr)
        return nullptr;
    if (HBITMAP__* b = bitmapOf(object)) {
        if (b->selectedInto != nullptr && b->selectedInto != context && !objects().stock.count(b))
            return nullptr;  // a bitmap lives in one context at a time
        HBITMAP previous = dc->bitmap;
        if (HBITMAP__* p = bitmapOf(previous); p != nullptr && p->selectedInto == context)
            p->selectedInto = nullptr;
        b->selectedInto = context;
        dc->bitmap = b;
        return previous;
    }
    if (HFONT__* f = fontOf(object)) {
        HFONT previous = dc->font != nullptr ? dc->font : stockFont(SYSTEM_FONT);
        if (HFONT__* p = fontOf(dc->font))
            --p->selections;
        ++f->selections;
        dc->font = f;
        return previous;
    }
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    Objects& all = objects();
    if (all.stock.count(object))
        return TRUE;
    if (HBITMAP__* b = bitmapOf(object)) {
        if (b->selectedInto != nullptr)
            return FALSE;
        all.live.erase(b);
        delete b;
        return TRUE;
    }
    if (HFONT__* f = fontOf(object)) {
        if (f->selections > 0)
            return FALSE;
        all.live.erase(f);
        delete f;
        return TRUE;
    }
    return FALSE;
}

HGDIOBJ WINAPI GetStockObject(int index) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    Objects& all = objects();
    if (index == SYSTEM_FONT || index == DEFAULT_GUI_FONT)
        return stockFont(index);
    if (index < WHITE_BRUSH || index > NULL_BRUSH)
        return nullptr;
    HBRUSH& slot = all.brushes[index];
    if (slot == nullptr) {
        static const int grey[] = {255, 192, 128, 64, 0, 0};
        slot = new HBRUSH__{QColor(grey[index], grey[index], grey[index]), index == NULL_BRUSH};
        all.live[slot] = Kind::Brush;
        all.stock[slot] = true;
    }
    return slot;
}

int WINAPI GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    if (HBITMAP__* b = bitmapOf(object)) {
        BITMAP bm{};
        bm.bmWidth = b->width;
        bm.bmHeight = b->height;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = static_cast<WORD>(b->bitsPerPixel);
        // Device-dependent rows are word-aligned, DIB rows double-word-aligned.
        bm.bmWidthBytes = b->dibSection ? ((b->width * b->bitsPerPixel + 31) / 32) * 4
                                        : ((b->width * b->bitsPerPixel + 15) / 16) * 2;
        bm.bmBits = b->dibSection ? b->pixels.get() : nullptr;
        if (b->dibSection && (buffer == nullptr || size >= static_cast<int>(sizeof(DIBSECTION)))) {
            if (buffer == nullptr)
                return sizeof(DIBSECTION);
            DIBSECTION ds{};
            ds.dsBm = bm;
            ds.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
            ds.dsBmih.biWidth = b->width;
            ds.dsBmih.biHeight = b->topDown ? -b->height : b->height;
            ds.dsBmih.biPlanes = 1;
            ds.dsBmih.biBitCount = 32;
            ds.dsBmih.biCompression = BI_RGB;
            ds.dsBmih.biSizeImage = static_cast<DWORD>(b->width) * b->height * 4;
            std::memcpy(buffer, &ds, sizeof ds);
            return sizeof ds;
        }
        if (buffer == nullptr)
            return sizeof(BITMAP);
        if (size < static_cast<int>(sizeof(BITMAP)))
            return 0;
        std::memcpy(buffer, &bm, sizeof bm);
        return sizeof bm;
    }
    if (HFONT__* f = fontOf(object)) {
        if (buffer == nullptr)
            return sizeof(LOGFONTA);
        if (size < static_cast<int>(sizeof(LOGFONTA)))
            return 0;
        std::memcpy(buffer, &f->description, sizeof(LOGFONTA));
        return sizeof(LOGFONTA);
    }
    return 0;
}

int WINAPI SetMapMode(HDC context, int mode) {
    // Only text mode (one logical unit is one pixel) is offered.
    return exchangeState(context, &HDC__::mapMode, mode, 0, mode == MM_TEXT);
}

int WINAPI GetMapMode(HDC context) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    return dc != nullptr ? dc->mapMode : 0;
}

COLORREF WINAPI SetTextColor(HDC context, COLORREF colour) {
    return exchangeState(context, &HDC__::textColour, colour & 0x00FFFFFF, CLR_INVALID);
}

COLORREF WINAPI SetBkColor(HDC context, COLORREF colour) {
    return exchangeState(context, &HDC__::backgroundColour, colour & 0x00FFFFFF, CLR_INVALID);
}

int WINAPI SetBkMode(HDC context, int mode) {
    return exchangeState(context, &HDC__::backgroundMode, mode, 0, mode == TRANSPARENT || mode == OPAQUE);
}

UINT WINAPI SetTextAlign(HDC context, UINT align) {
    return exchangeState(context, &HDC__::textAlign, align, GDI_ERROR);
}

namespace {

// 96 pixels per inch times the screen's scale, so that text keeps its size
// on the screen and is drawn with all of its pixels. The screen is that of
// the program's window once one is shown, else the primary one; without the
// GUI library there is no screen and no scale.
int screenPixelsPerInch() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 96;
    QScreen* screen = nullptr;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->isVisible() && !screen)
            screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(96 * screen->devicePixelRatio())) : 96;
}

}  // namespace

int WINAPI GetDeviceCaps(HDC, int index) {
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return screenPixelsPerInch();
    case BITSPIXEL:
        return 32;
    case PLANES:
        return 1;
    default:
        return 0;
    }
}

HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                         DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                         DWORD quality, DWORD pitchAndFamily, LPCSTR faceName) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    if (!guiUp())
        return nullptr;  // fonts come from the GUI library's font database
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfEscapement = escapement;
    lf.lfOrientation = orientation;
    lf.lfWeight = weight;
    lf.lfItalic = static_cast<BYTE>(italic != 0);
    lf.lfUnderline = static_cast<BYTE>(underline != 0);
    lf.lfStrikeOut = static_cast<BYTE>(strikeOut != 0);
    lf.lfCharSet = static_cast<BYTE>(charSet);
    lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
    lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
    lf.lfQuality = static_cast<BYTE>(quality);
    lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
    if (faceName != nullptr)
        std::strncpy(lf.lfFaceName, faceName, LF_FACESIZE - 1);
    return makeFont(lf);
}

namespace {

// The font selected into a context, or null when there is none to be had.
HFONT__* selectedFont(HDC__* dc) {
    if (HFONT__* f = fontOf(dc->font))
        return f;
    return fontOf(stockFont(SYSTEM_FONT));
}

// GDI's view of a font: whole-pixel ascent and descent that contain every
// glyph, and whole-pixel advances that simply add up along a line.
struct TextLayout {
    int ascent = 0;
    int descent = 0;
    std::vector<int> advances;
    int width = 0;

    TextLayout(const QFont& font, const QString& text) {
        QFontMetricsF exact(font);
        ascent = static_cast<int>(std::ceil(exact.ascent()));
        descent = static_cast<int>(std::ceil(exact.descent()));
        QFontMetrics metrics(font);
        advances.reserve(static_cast<std::size_t>(text.size()));
        for (QChar c : text) {
            advances.push_back(metrics.horizontalAdvance(c));
            width += advances.back();
        }
    }
};

}  // namespace

BOOL WINAPI GetTextExtentPoint32A(HDC context, LPCSTR text, int length, LPSIZE size) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    if (dc == nullptr || size == nullptr || length < 0 || (text == nullptr && length > 0) || !guiUp())
        return FALSE;
    HFONT__* font = selectedFont(dc);
    if (font == nullptr)
        return FALSE;
    TextLayout layout(font->font, decode(text, length));
    size->cx = layout.width;
    size->cy = layout.ascent + layout.descent;
    return TRUE;
}

BOOL WINAPI ExtTextOutA(HDC context, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT length,
                        const INT* dx) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HDC__* dc = contextOf(context);
    if (dc == nullptr || (text == nullptr && length > 0) || length > INT_MAX || !guiUp())
        return FALSE;
    HBITMAP__* bitmap = bitmapOf(dc->bitmap);
    HFONT__* font = selectedFont(dc);
    if (bitmap == nullptr || font == nullptr)
        return FALSE;

    QString string = decode(text, static_cast<int>(length));
    TextLayout layout(font->font, string);
    if (dx != nullptr) {
        // Caller-given advances, one per byte; the text has one character per byte.
        layout.width = 0;
        for (int i = 0; i < static_cast<int>(layout.advances.size()); ++i) {
            layout.advances[static_cast<std::size_t>(i)] = dx[i];
            layout.width += dx[i];
        }
    }
    const int width = layout.width;
    const int ascent = layout.ascent;
    const int cellHeight = layout.ascent + layout.descent;

    int left = x;
    if ((dc->textAlign & TA_CENTER) == TA_CENTER)
        left = x - width / 2;
    else if (dc->textAlign & TA_RIGHT)
        left = x - width;
    int top = y;
    if ((dc->textAlign & TA_BASELINE) == TA_BASELINE)
        top = y - ascent;
    else if (dc->textAlign & TA_BOTTOM)
        top = y - cellHeight;

    // Glyphs may overhang their cell by a little on any side.
    QRect touched(left - cellHeight, top - cellHeight, width + 2 * cellHeight, 3 * cellHeight);
    QRect area;
    if (rect != nullptr) {
        area = QRect(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1));
        if (options & ETO_CLIPPED)
            touched = touched.intersected(area);
        if (options & ETO_OPAQUE)
            touched = touched.united(area);
    }
    Canvas canvas(bitmap, length == 0 ? area : touched);
    QPainter& p = *canvas.painter;
    const QColor background = toQColor(dc->backgroundColour);
    if (rect != nullptr) {
        if (options & ETO_OPAQUE)
            p.fillRect(area, background);
        if (options & ETO_CLIPPED)
            p.setClipRect(area, Qt::IntersectClip);
    }
    if (length == 0)
        return TRUE;
    if (dc->backgroundMode == OPAQUE)
        p.fillRect(QRect(left, top, width, cellHeight), background);

    p.setRenderHint(QPainter::TextAntialiasing, !(font->font.styleStrategy() & QFont::NoAntialias));
    p.setFont(font->font);
    p.setPen(toQColor(dc->textColour));
    int penX = left;
    for (int i = 0; i < string.size(); ++i) {
        p.drawText(QPoint(penX, top + ascent), string.mid(i, 1));
        penX += layout.advances[static_cast<std::size_t>(i)];
    }
    return TRUE;
}

BOOL WINAPI TextOutA(HDC context, int x, int y, LPCSTR text, int length) {
    if (length < 0)
        return FALSE;
    return ExtTextOutA(context, x, y, 0, nullptr, text, static_cast<UINT>(length), nullptr);
}

BOOL WINAPI GdiFlush() { return TRUE; }

int WINAPI MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    long long product = static_cast<long long>(a) * b;
    bool negative = (product < 0) != (c < 0);
    unsigned long long magnitude = product < 0 ? 0ULL - static_cast<unsigned long long>(product)
                                               : static_cast<unsigned long long>(product);
    unsigned long long divisor = c < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(c))
                                       : static_cast<unsigned long long>(c);
    unsigned long long quotient = (magnitude + divisor / 2) / divisor;
    if (quotient > (negative ? 2147483648ULL : 2147483647ULL))
        return -1;
    return negative ? static_cast<int>(-static_cast<long long>(quotient)) : static_cast<int>(quotient);
}

int WINAPI GetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info, UINT usage) {
    std::lock_guard<std::recursive_mutex> lock(objects().mutex);
    HBITMAP__* b = bitmapOf(bitmap);
    if (b == nullptr || info == nullptr || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER))
        return 0;
    BITMAPINFOHEADER& h = info->bmiHeader;
    if (bits == nullptr) {
        h.biWidth = b->width;
        h.biHeight = b->height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<WORD>(b->bitsPerPixel);
        h.biCompression = BI_RGB;
        h.biSizeImage = static_cast<DWORD>(((b->width * b->bitsPerPixel + 31) / 32) * 4) * b->height;
        return b->height;
    }
    if (h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0)
        return 0;
    const bool topDownOut = h.biHeight < 0;
    const int outWidth = h.biWidth;
    const int outHeight = topDownOut ? -h.biHeight : h.biHeight;
    if (start >= static_cast<UINT>(b->height) || start >= static_cast<UINT>(outHeight))
        return 0;
    UINT count = lines;
    if (count > static_cast<UINT>(b->height) - start)
        count = static_cast<UINT>(b->height) - start;
    auto* out = static_cast<std::uint32_t*>(bits);
    const int copyWidth = outWidth < b->width ? outWidth : b->width;
    for (UINT i = 0; i < count; ++i) {
        // Scan line start + i of the output order, as a row counted from the top.
        int visualRow = topDownOut ? static_cast<int>(start + i) : b->height - 1 - static_cast<int>(start + i);
        int memoryRow = b->topDown ? visualRow : b->height - 1 - visualRow;
        const std::uint32_t* src = b->pixels.get() + static_cast<std::size_t>(memoryRow) * b->width;
        std::uint32_t* dst = out + static_cast<std::size_t>(i) * outWidth;
        for (int x = 0; x < copyWidth; ++x)
            dst[x] = b->bitsPerPixel == 1 ? ((src[x] & 0x00FFFFFF) != 0 ? 0x00FFFFFFu : 0u) : src[x];
        for (int x = copyWidth; x < outWidth; ++x)
            dst[x] = 0;
    }
    return static_cast<int>(count);
}

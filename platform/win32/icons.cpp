// Icons and cursors: the program's icon group, the system's icons and
// cursors, and their pictures for the GDI calls that read them.
#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <map>

#include "platform/win32/ui_internal.h"
#include "platform/win32/window_access.h"

namespace platform::win32 {

namespace {

struct IconObject {
    bool isIcon = true;
    bool shared = true;  // loaded from resources or the system: never freed
    int systemId = 0;    // IDI_ / IDC_ number for the system's ones
    QImage colour;       // ARGB32; null for the system's cursors
};

std::map<HICON, IconObject>& iconTable() {
    static std::map<HICON, IconObject> table;
    return table;
}
std::map<std::pair<int, const void*>, HICON>& loadedIcons() {
    static std::map<std::pair<int, const void*>, HICON> loaded;
    return loaded;
}
std::uintptr_t nextIconHandle = 0x40010;

HICON addIcon(const IconObject& icon) {
    HICON handle = reinterpret_cast<HICON>(nextIconHandle);
    nextIconHandle += 0x10;
    iconTable()[handle] = icon;
    return handle;
}

// The standard arrow, 32 x 32: 'X' black, 'o' white, anything else transparent.
const char* const arrowRows[] = {
    "X",
    "XX",
    "XoX",
    "XooX",
    "XoooX",
    "XooooX",
    "XoooooX",
    "XooooooX",
    "XoooooooX",
    "XooooooooX",
    "XoooooooooX",
    "XooooooXXXXX",
    "XoooXooX",
    "XooXXooX",
    "XoX  XooX",
    "XX   XooX",
    "X     XooX",
    "      XooX",
    "       XooX",
    "       XooX",
    "        XX",
};

Qt::CursorShape cursorShape(int id) {
    switch (id) {
    case 32513: return Qt::IBeamCursor;
    case 32514: return Qt::WaitCursor;
    case 32515: return Qt::CrossCursor;
    case 32516: return Qt::UpArrowCursor;
    case 32642: return Qt::SizeFDiagCursor;
    case 32643: return Qt::SizeBDiagCursor;
    case 32644: return Qt::SizeHorCursor;
    case 32645: return Qt::SizeVerCursor;
    case 32646: return Qt::SizeAllCursor;
    case 32648: return Qt::ForbiddenCursor;
    case 32649: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
    }
}

bool knownSystemCursor(int id) {
    return id == 32512 || id == 32513 || id == 32514 || id == 32515 || id == 32516 || (id >= 32642 && id <= 32646) ||
           id == 32648 || id == 32649;
}

QImage drawIcon(const IconTemplate& t) {
    QImage image(t.width, t.height, QImage::Format_ARGB32);
    image.fill(0);
    for (int y = 0; y < t.height; ++y) {
        const char* row = t.rows[y];
        for (int x = 0; x < t.width && row[x]; ++x)
            for (int p = 0; p < t.paletteSize; ++p)
                if (t.palette[p].key == row[x])
                    image.setPixel(x, y, t.palette[p].argb);
    }
    return image;
}

QImage systemIconImage(int id) {
    QStyle::StandardPixmap kind = QStyle::SP_DesktopIcon;
    switch (id) {
    case 32513: kind = QStyle::SP_MessageBoxCritical; break;
    case 32514: kind = QStyle::SP_MessageBoxQuestion; break;
    case 32515: kind = QStyle::SP_MessageBoxWarning; break;
    case 32516: kind = QStyle::SP_MessageBoxInformation; break;
    default: break;
    }
    QImage image = QApplication::style()->standardIcon(kind).pixmap(32, 32).toImage();
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32).scaled(32, 32);
}

}  // namespace

QIcon iconFor(HICON icon) {
    auto it = iconTable().find(icon);
    if (it == iconTable().end() || it->second.colour.isNull())
        return QIcon();
    return QIcon(QPixmap::fromImage(it->second.colour));
}

QCursor cursorFor(HCURSOR cursor) {
    auto it = iconTable().find(cursor);
    if (it == iconTable().end())
        return QCursor(Qt::ArrowCursor);
    if (it->second.systemId && !it->second.isIcon)
        return QCursor(cursorShape(it->second.systemId));
    if (it->second.colour.isNull())
        return QCursor(Qt::ArrowCursor);
    return QCursor(QPixmap::fromImage(it->second.colour), 0, 0);
}

}  // namespace platform::win32

namespace platform {

bool iconPicturesFor(HICON icon, IconPictures* pictures) {
    using namespace win32;
    auto it = iconTable().find(icon);
    if (it == iconTable().end() || !pictures)
        return false;
    const IconObject& object = it->second;
    if (!object.isIcon) {
        if (object.systemId != 32512)
            return false;  // only the arrow's picture is known
        // A monochrome cursor: AND mask rows above XOR mask rows.
        QImage mask(32, 64, QImage::Format_Mono);
        mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        mask.fill(0);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                mask.setPixel(x, y, 1);
        for (int y = 0; y < static_cast<int>(std::size(win32::arrowRows)); ++y) {
            const char* row = win32::arrowRows[y];
            for (int x = 0; row[x]; ++x) {
                if (row[x] == 'X' || row[x] == 'o')
                    mask.setPixel(x, y, 0);
                if (row[x] == 'o')
                    mask.setPixel(x, y + 32, 1);
            }
        }
        *pictures = IconPictures{mask, QImage(), 0, 0, false};
        return true;
    }
    if (object.colour.isNull())
        return false;
    QImage mask(object.colour.size(), QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            mask.setPixel(x, y, qAlpha(object.colour.pixel(x, y)) == 0 ? 1 : 0);
    *pictures = IconPictures{mask, object.colour, object.colour.width() / 2, object.colour.height() / 2, true};
    return true;
}

}  // namespace platform

using namespace platform::win32;

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!name)
        return nullptr;
    if (!instance) {
        if (!IS_INTRESOURCE(name))
            return nullptr;
        const int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
        if (id < 32512 || id > 32517)
            return nullptr;
        auto key = std::make_pair(id, static_cast<const void*>(nullptr));
        if (auto it = loadedIcons().find(key); it != loadedIcons().end())
            return it->second;
        IconObject icon;
        icon.systemId = id;
        if (ensureGui())
            icon.colour = systemIconImage(id);
        return loadedIcons()[key] = addIcon(icon);
    }
    const ResourceEntry* entry = findResource(instance, name, RT_GROUP_ICON);
    if (!entry)
        return nullptr;
    auto key = std::make_pair(0, entry->data);
    if (auto it = loadedIcons().find(key); it != loadedIcons().end())
        return it->second;
    IconObject icon;
    icon.colour = drawIcon(*static_cast<const IconTemplate*>(entry->data));
    return loadedIcons()[key] = addIcon(icon);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    // The program carries no cursors of its own.
    if (instance || !name || !IS_INTRESOURCE(name))
        return nullptr;
    const int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
    if (!knownSystemCursor(id))
        return nullptr;
    auto key = std::make_pair(-id, static_cast<const void*>(nullptr));
    if (auto it = loadedIcons().find(key); it != loadedIcons().end())
        return it->second;
    IconObject cursor;
    cursor.isIcon = false;
    cursor.systemId = id;
    return loadedIcons()[key] = addIcon(cursor);
}

BOOL WINAPI DestroyIcon(HICON icon) {
    auto it = iconTable().find(icon);
    if (it == iconTable().end())
        return FALSE;
    // Loaded icons are shared by every caller and live as long as the program.
    if (!it->second.shared)
        iconTable().erase(it);
    return TRUE;
}

BOOL WINAPI DestroyCursor(HCURSOR cursor) { return DestroyIcon(cursor); }

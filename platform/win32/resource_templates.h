// The forms in which a program hands its compiled resources to the window
// layer, as a resource compiler fills the platform's binary formats: menu,
// accelerator and dialog templates, icons, and the table through which the
// layer finds each resource by type, name and language.
//
// Menu, accelerator and dialog templates keep the structure of the
// platform's compiled resources: a menu is a flat list in which a popup's
// items follow it and MF_END closes a level; an accelerator table's last
// entry carries 0x80 in its flags.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::win32 {

struct MenuItemTemplate {
    unsigned flags;  // MF_POPUP, MF_SEPARATOR, MF_GRAYED, MF_END
    unsigned id;     // command id; unused for popups and separators
    const char* text;
};

struct DialogItemTemplate {
    const char* className;  // "BUTTON", "STATIC", "COMBOBOX"
    const char* text;
    int id;
    std::uint32_t style;
    short x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
    std::uint32_t style;
    const char* caption;
    const char* fontName;
    short pointSize;
    short cx, cy;  // dialog units
    const DialogItemTemplate* items;
    int itemCount;
};

// One row of an icon drawn as text: each character is a palette key.
struct IconPaletteEntry {
    char key;
    std::uint32_t argb;
};

struct IconTemplate {
    int width, height;
    const char* const* rows;
    const IconPaletteEntry* palette;
    int paletteSize;
};

struct ResourceEntry {
    const char* type;  // a number (MAKEINTRESOURCE) or a name
    const char* name;  // a number or a name
    std::uint16_t language;
    const void* data;
    std::uint32_t size;
};

// The program's resource section. The program defines it (its resource
// script does); FindResource, LoadMenu, LoadAccelerators, LoadIcon and
// DialogBoxParam look into it, as the loader looks into an executable.
const ResourceEntry* programResources(std::size_t* count);

}  // namespace platform::win32

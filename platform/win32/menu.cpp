// Menus from menu resources shown in a window's menu bar, and accelerator
// tables that turn key messages into commands.
#include <QAction>
#include <QActionGroup>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <map>

#include "platform/win32/frame_window.h"

namespace platform::win32 {

namespace {

struct MenuItem {
    std::string text;
    UINT id = 0;
    UINT flags = 0;
    HMENU popup = nullptr;
};

struct Menu {
    std::vector<MenuItem> items;
    HWND owner = nullptr;
};

std::map<HMENU, std::unique_ptr<Menu>>& menuTable() {
    static std::map<HMENU, std::unique_ptr<Menu>> table;
    return table;
}
std::uintptr_t nextMenuHandle = 0x20010;

Menu* findMenu(HMENU menu) {
    auto it = menuTable().find(menu);
    return it == menuTable().end() ? nullptr : it->second.get();
}

HMENU newMenu() {
    HMENU handle = reinterpret_cast<HMENU>(nextMenuHandle);
    nextMenuHandle += 0x10;
    menuTable()[handle] = std::make_unique<Menu>();
    return handle;
}

// Reads one level of a menu template, popups recursively, up to its MF_END.
HMENU readLevel(const MenuItemTemplate* items, std::size_t count, std::size_t* next) {
    HMENU handle = newMenu();
    while (*next < count) {
        const MenuItemTemplate& t = items[(*next)++];
        MenuItem item;
        item.text = t.text ? t.text : "";
        item.flags = t.flags & ~MF_END;
        item.id = t.id;
        if (t.flags & MF_POPUP)
            item.popup = readLevel(items, count, next);
        findMenu(handle)->items.push_back(item);
        if (t.flags & MF_END)
            break;
    }
    return handle;
}

// The item an id names: a position with MF_BYPOSITION, else a command id
// searched through the popups too.
MenuItem* locate(HMENU menu, UINT item, UINT flags, HMENU* container = nullptr) {
    Menu* m = findMenu(menu);
    if (!m)
        return nullptr;
    if (flags & MF_BYPOSITION) {
        if (item >= m->items.size())
            return nullptr;
        if (container)
            *container = menu;
        return &m->items[item];
    }
    for (MenuItem& entry : m->items) {
        if (!entry.popup && !(entry.flags & MF_SEPARATOR) && entry.id == item) {
            if (container)
                *container = menu;
            return &entry;
        }
        if (entry.popup)
            if (MenuItem* found = locate(entry.popup, item, flags, container))
                return found;
    }
    return nullptr;
}

HWND ownerOf(HMENU menu) {
    // Only a menu bar knows its window; a popup is found below one.
    for (auto& entry : menuTable()) {
        if (!entry.second->owner)
            continue;
        std::vector<HMENU> stack{entry.first};
        while (!stack.empty()) {
            HMENU current = stack.back();
            stack.pop_back();
            if (current == menu)
                return entry.second->owner;
            if (Menu* m = findMenu(current))
                for (MenuItem& item : m->items)
                    if (item.popup)
                        stack.push_back(item.popup);
        }
    }
    return nullptr;
}

void refreshOwner(HMENU menu) {
    if (Window* w = findWindow(ownerOf(menu)))
        buildMenuBar(*w);
}

// Sets the item's bits under mask as flags has them; returns those bits as
// they were, or all ones for an item that is not there.
UINT changeItemFlags(HMENU menu, UINT itemId, UINT flags, UINT mask) {
    HMENU container = nullptr;
    MenuItem* item = locate(menu, itemId, flags, &container);
    if (!item)
        return 0xFFFFFFFFu;
    const UINT previous = item->flags & mask;
    item->flags = (item->flags & ~mask) | (flags & mask);
    refreshOwner(container);
    return previous;
}

void fillMenu(QMenu* target, HMENU source, HWND window, FrameWindow* frame);

// A popup, on the bar or inside another menu: greyed as its item says, and
// the menu loop runs while it is open.
void fillPopup(QMenu* popup, const MenuItem& item, HWND window, FrameWindow* frame) {
    popup->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
    QObject::connect(popup, &QMenu::aboutToShow, frame, [frame] { frame->menuLoop(true); });
    QObject::connect(popup, &QMenu::aboutToHide, frame, [frame] { frame->menuLoop(false); });
    fillMenu(popup, item.popup, window, frame);
}

// Posted, as on the original: the command is handled after the menu loop has
// ended, from the program's own message loop.
void postCommandOnTrigger(QAction* action, HWND window, UINT id, FrameWindow* frame) {
    QObject::connect(action, &QAction::triggered, frame,
                     [window, id] { PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); });
}

void fillMenu(QMenu* target, HMENU source, HWND window, FrameWindow* frame) {
    Menu* m = findMenu(source);
    if (!m)
        return;
    // Neighbouring radio items form one group, shown with radio marks.
    QActionGroup* radioGroup = nullptr;
    for (const MenuItem& item : m->items) {
        if (!(item.flags & MFT_RADIOCHECK) || item.popup || (item.flags & MF_SEPARATOR))
            radioGroup = nullptr;
        if (item.flags & MF_SEPARATOR) {
            target->addSeparator();
            continue;
        }
        if (item.popup) {
            fillPopup(target->addMenu(fromAnsi(item.text.c_str())), item, window, frame);
            continue;
        }
        // The text after a tab is the key label, as the menu shows it.
        QAction* action = target->addAction(fromAnsi(item.text.c_str()));
        action->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
        if (item.flags & MFT_RADIOCHECK) {
            if (!radioGroup)
                radioGroup = new QActionGroup(target);
            radioGroup->addAction(action);
            action->setCheckable(true);
        }
        if (item.flags & MF_CHECKED) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        postCommandOnTrigger(action, window, item.id, frame);
    }
}

struct AcceleratorTable {
    std::vector<ACCEL> entries;
};

std::map<HACCEL, AcceleratorTable>& acceleratorTables() {
    static std::map<HACCEL, AcceleratorTable> tables;
    return tables;
}
std::uintptr_t nextAcceleratorHandle = 0x30010;

}  // namespace

void buildMenuBar(Window& window) {
    FrameWindow* frame = window.frame;
    if (!frame)
        return;
    frame->beginProgrammaticChange();
    QMenuBar* bar = frame->menuBar();
    bar->clear();
    bar->setMinimumHeight(0);
    bar->setMaximumHeight(QWIDGETSIZE_MAX);
    if (Menu* m = findMenu(window.menu)) {
        for (const MenuItem& item : m->items) {
            if (item.flags & MF_SEPARATOR)
                continue;
            if (item.popup)
                fillPopup(bar->addMenu(fromAnsi(item.text.c_str())), item, window.handle, frame);
            else
                postCommandOnTrigger(bar->addAction(fromAnsi(item.text.c_str())), window.handle, item.id, frame);
        }
        bar->setVisible(true);
    } else {
        bar->setVisible(false);
    }
    if (frame->layout())
        frame->layout()->activate();
    frame->endProgrammaticChange();
}

void forgetMenuOwner(HMENU menu, HWND window) {
    if (Menu* m = findMenu(menu))
        if (m->owner == window)
            m->owner = nullptr;
}

}  // namespace platform::win32

using namespace platform::win32;

HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name) {
    if (instance && instance != programModule())
        return nullptr;
    std::size_t count = 0;
    const MenuItemTemplate* items = menuTemplate(name, &count);
    if (!items || count == 0)
        return nullptr;
    std::size_t next = 0;
    return readLevel(items, count, &next);
}

HMENU WINAPI CreateMenu() { return newMenu(); }
HMENU WINAPI CreatePopupMenu() { return newMenu(); }

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCSTR text) {
    Menu* m = findMenu(menu);
    if (!m)
        return FALSE;
    MenuItem item;
    item.flags = flags & ~MF_END;
    item.text = text && !(flags & MF_SEPARATOR) ? text : "";
    if (flags & MF_POPUP) {
        item.popup = reinterpret_cast<HMENU>(idOrPopup);
        if (!findMenu(item.popup))
            return FALSE;
    } else {
        item.id = static_cast<UINT>(idOrPopup);
    }
    m->items.push_back(item);
    refreshOwner(menu);
    return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU menu) {
    Menu* m = findMenu(menu);
    if (!m)
        return FALSE;
    const HWND owner = m->owner;
    std::vector<HMENU> popups;
    for (MenuItem& item : m->items)
        if (item.popup)
            popups.push_back(item.popup);
    menuTable().erase(menu);
    for (HMENU popup : popups)
        DestroyMenu(popup);
    if (Window* w = findWindow(owner)) {
        if (w->menu == menu) {
            // As on the original the window keeps its menu area until SetMenu
            // says otherwise, so destroying the menu changes no sizes.
            w->menu = nullptr;
            if (w->frame) {
                QMenuBar* bar = w->frame->menuBar();
                bar->setFixedHeight(bar->height());
                bar->clear();
            }
        }
    }
    return TRUE;
}

HMENU WINAPI GetMenu(HWND window) {
    Window* w = findWindow(window);
    return w && w->kind == WindowKind::Frame ? w->menu : nullptr;
}

BOOL WINAPI SetMenu(HWND window, HMENU menu) {
    Window* w = findWindow(window);
    if (!w || w->kind != WindowKind::Frame || (menu && !findMenu(menu)))
        return FALSE;
    if (Menu* old = findMenu(w->menu))
        if (old->owner == window)
            old->owner = nullptr;
    w->menu = menu;
    if (Menu* m = findMenu(menu))
        m->owner = window;
    buildMenuBar(*w);
    return TRUE;
}

BOOL WINAPI DrawMenuBar(HWND window) {
    Window* w = findWindow(window);
    if (!w || w->kind != WindowKind::Frame)
        return FALSE;
    buildMenuBar(*w);
    return TRUE;
}

HMENU WINAPI GetSubMenu(HMENU menu, int position) {
    MenuItem* item = position >= 0 ? locate(menu, static_cast<UINT>(position), MF_BYPOSITION) : nullptr;
    return item ? item->popup : nullptr;
}

int WINAPI GetMenuItemCount(HMENU menu) {
    Menu* m = findMenu(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU menu, int position) {
    MenuItem* item = position >= 0 ? locate(menu, static_cast<UINT>(position), MF_BYPOSITION) : nullptr;
    if (!item || item->popup)
        return 0xFFFFFFFFu;
    return (item->flags & MF_SEPARATOR) ? 0 : item->id;
}

UINT WINAPI GetMenuState(HMENU menu, UINT itemId, UINT flags) {
    MenuItem* item = locate(menu, itemId, flags);
    return item ? item->flags : 0xFFFFFFFFu;
}

int WINAPI GetMenuStringA(HMENU menu, UINT itemId, LPSTR buffer, int bufferSize, UINT flags) {
    MenuItem* item = locate(menu, itemId, flags);
    if (!item)
        return 0;
    const int length = static_cast<int>(item->text.size());
    if (!buffer || bufferSize <= 0)
        return length;
    const int n = std::min(length, bufferSize - 1);
    std::memcpy(buffer, item->text.data(), n);
    buffer[n] = '\0';
    return n;
}

UINT WINAPI EnableMenuItem(HMENU menu, UINT itemId, UINT enable) {
    return changeItemFlags(menu, itemId, enable, MF_GRAYED | MF_DISABLED);
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT itemId, UINT check) {
    return changeItemFlags(menu, itemId, check, MF_CHECKED);
}

BOOL WINAPI CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
    if (first > last || check < first || check > last)
        return FALSE;
    std::vector<MenuItem*> range;
    HMENU container = nullptr;
    for (UINT id = first; id <= last; ++id) {
        MenuItem* item = locate(menu, id, flags, &container);
        if (!item)
            return FALSE;
        range.push_back(item);
    }
    for (UINT id = first; id <= last; ++id) {
        MenuItem* item = range[id - first];
        item->flags = (item->flags & ~MF_CHECKED) | MFT_RADIOCHECK | (id == check ? MF_CHECKED : 0);
    }
    refreshOwner(container);
    return TRUE;
}

// ---- Accelerators -------------------------------------------------------------------------

HACCEL WINAPI CreateAcceleratorTableA(LPACCEL entries, int count) {
    if (!entries || count <= 0)
        return nullptr;
    HACCEL handle = reinterpret_cast<HACCEL>(nextAcceleratorHandle);
    nextAcceleratorHandle += 0x10;
    AcceleratorTable& table = acceleratorTables()[handle];
    for (int i = 0; i < count; ++i) {
        ACCEL entry = entries[i];
        entry.fVirt &= 0x7F;
        table.entries.push_back(entry);
    }
    return handle;
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE instance, LPCSTR name) {
    const ResourceEntry* entry = findResource(instance, name, RT_ACCELERATOR);
    if (!entry)
        return nullptr;
    const auto* entries = static_cast<const ACCEL*>(entry->data);
    const std::size_t available = entry->size / sizeof(ACCEL);
    std::vector<ACCEL> copy;
    for (std::size_t i = 0; i < available; ++i) {
        copy.push_back(entries[i]);
        if (entries[i].fVirt & 0x80)
            break;
    }
    return CreateAcceleratorTableA(copy.data(), static_cast<int>(copy.size()));
}

BOOL WINAPI DestroyAcceleratorTable(HACCEL table) { return acceleratorTables().erase(table) ? TRUE : FALSE; }

int WINAPI TranslateAcceleratorA(HWND window, HACCEL table, LPMSG message) {
    auto it = acceleratorTables().find(table);
    if (it == acceleratorTables().end() || !message || !IsWindow(window))
        return 0;
    const UINT m = message->message;
    const bool keyDown = m == WM_KEYDOWN || m == WM_SYSKEYDOWN;
    const bool character = m == WM_CHAR || m == WM_SYSCHAR;
    if (!keyDown && !character)
        return 0;
    const bool alt = (message->lParam & (LPARAM{1} << 29)) != 0;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    for (const ACCEL& entry : it->second.entries) {
        bool match;
        if (entry.fVirt & FVIRTKEY) {
            match = keyDown && entry.key == (message->wParam & 0xFFFF) && ((entry.fVirt & FALT) != 0) == alt &&
                    ((entry.fVirt & FCONTROL) != 0) == control && ((entry.fVirt & FSHIFT) != 0) == shift;
        } else {
            match = character && entry.key == (message->wParam & 0xFFFF) && ((entry.fVirt & FALT) != 0) == alt;
        }
        if (match) {
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(entry.cmd, 1), 0);
            return 1;
        }
    }
    return 0;
}

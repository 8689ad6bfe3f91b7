// The GUI library's start, the handle tables, text conversion and the
// program's module and resources.
#include <QApplication>
#include <QMenuBar>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/common/render_surface.h"
#include "platform/win32/display_rule.h"
#include "platform/win32/program_arguments.h"
#include "platform/win32/ui_internal.h"
#include "platform/win32/window_access.h"

namespace platform {

namespace {
int programArgc = 1;
char programName[] = "vibrolane";
char* defaultArgv[] = {programName, nullptr};
char** programArgv = defaultArgv;
}  // namespace

void setProgramArguments(int argc, char** argv) {
    if (argc > 0 && argv) {
        programArgc = argc;
        programArgv = argv;
    }
}

bool guiAvailable() { return win32::ensureGui(); }

void runModalLoop(const std::function<bool()>& done) { win32::runModalLoop(done); }

QWidget* topLevelWidgetFor(HWND window) {
    win32::Window* w = win32::findWindow(window);
    if (!w || !w->widget)
        return nullptr;
    return w->widget->window();
}

QWidget* widgetFor(HWND window) {
    win32::Window* w = win32::findWindow(window);
    return w ? w->widget.data() : nullptr;
}

}  // namespace platform

namespace platform::win32 {

namespace {

enum class GuiState { Unknown, Available, Unavailable };
GuiState guiState = GuiState::Unknown;

}  // namespace

bool ensureGui() {
    if (guiState != GuiState::Unknown)
        return guiState == GuiState::Available;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        guiState = GuiState::Available;
    } else if (QCoreApplication::instance()) {
        // Someone started a GUI-less application; widgets cannot exist in it.
        guiState = GuiState::Unavailable;
    } else if (const DisplayVerdict display = checkDisplay(); !display.usable) {
        // The program's own message follows; this line says what lies
        // behind it.
        std::fprintf(stderr, "vibrolane: no display: %s\n", display.cause.c_str());
        std::fflush(stderr);
        guiState = GuiState::Unavailable;
    } else {
        new QApplication(programArgc, programArgv);
        QApplication::setQuitOnLastWindowClosed(false);
        guiState = GuiState::Available;
    }
    return guiState == GuiState::Available;
}

// ---- Text ------------------------------------------------------------------------

namespace {
// Windows-1252 at 0x80-0x9F; the five bytes it leaves undefined stay C1 controls.
const char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
}  // namespace

QString fromAnsi(const char* text, int length) {
    if (!text)
        return QString();
    if (length < 0)
        length = static_cast<int>(std::strlen(text));
    QString result;
    result.reserve(length);
    for (int i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        result.append(QChar(c >= 0x80 && c < 0xA0 ? cp1252High[c - 0x80] : char16_t(c)));
    }
    return result;
}

std::string toAnsi(const QString& text) {
    std::string result;
    result.reserve(text.size());
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        char out = '?';
        if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
            out = static_cast<char>(u);
        } else {
            for (int i = 0; i < 32; ++i)
                if (cp1252High[i] == u)
                    out = static_cast<char>(0x80 + i);
        }
        result.push_back(out);
    }
    return result;
}

// ---- Handles ---------------------------------------------------------------------

namespace {

std::map<HWND, std::unique_ptr<Window>>& windowTable() {
    static std::map<HWND, std::unique_ptr<Window>> table;
    return table;
}
std::uintptr_t nextWindowHandle = 0x10010;

int eventDepth = 0;
std::vector<QPointer<QWidget>>& retired() {
    static std::vector<QPointer<QWidget>> widgets;
    return widgets;
}

}  // namespace

// Windows are made and destroyed on the GUI thread only, but PostMessage may
// look a handle up from any thread.
static std::mutex windowTableMutex;

Window* findWindow(HWND handle) {
    std::lock_guard<std::mutex> lock(windowTableMutex);
    auto it = windowTable().find(handle);
    return it == windowTable().end() ? nullptr : it->second.get();
}

HWND addWindow(std::unique_ptr<Window> window) {
    std::lock_guard<std::mutex> lock(windowTableMutex);
    HWND handle = reinterpret_cast<HWND>(nextWindowHandle);
    nextWindowHandle += 0x10;
    window->handle = handle;
    windowTable()[handle] = std::move(window);
    return handle;
}

void removeWindow(HWND handle) {
    std::unique_ptr<Window> gone;
    std::lock_guard<std::mutex> lock(windowTableMutex);
    auto it = windowTable().find(handle);
    if (it != windowTable().end()) {
        gone = std::move(it->second);
        windowTable().erase(it);
    }
}

std::vector<HWND> allWindows() {
    std::lock_guard<std::mutex> lock(windowTableMutex);
    std::vector<HWND> handles;
    for (auto& entry : windowTable())
        handles.push_back(entry.first);
    return handles;
}

LRESULT sendFromEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++eventDepth;
    const LRESULT result = SendMessageA(window, message, wParam, lParam);
    --eventDepth;
    return result;
}

void retireWidget(QWidget* widget) {
    if (!widget)
        return;
    widget->hide();
    retired().push_back(widget);
    if (eventDepth == 0)
        deleteRetiredWidgets();
}

void deleteRetiredWidgets() {
    if (eventDepth != 0)
        return;
    auto widgets = std::move(retired());
    retired().clear();
    for (auto& widget : widgets)
        delete widget.data();
}

// ---- Module and resources ----------------------------------------------------------

HINSTANCE programModule() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x400000}); }

namespace {

// A resource name or type as written: a number, or text (where "#n" is the number n).
bool nameMatches(const char* wanted, const char* stored) {
    auto number = [](const char* name, unsigned* value) {
        if (IS_INTRESOURCE(name)) {
            *value = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(name));
            return true;
        }
        if (name[0] == '#') {
            char* end = nullptr;
            const unsigned long parsed = std::strtoul(name + 1, &end, 10);
            if (end != name + 1 && *end == '\0' && parsed <= 0xFFFF) {
                *value = static_cast<unsigned>(parsed);
                return true;
            }
        }
        return false;
    };
    unsigned a = 0, b = 0;
    const bool aNumber = number(wanted, &a);
    const bool bNumber = number(stored, &b);
    if (aNumber || bNumber)
        return aNumber && bNumber && a == b;
    return QString::fromLatin1(wanted).compare(QString::fromLatin1(stored), Qt::CaseInsensitive) == 0;
}

}  // namespace

const ResourceEntry* findResource(HMODULE module, LPCSTR name, LPCSTR type) {
    if ((module && module != programModule()) || !name || !type)
        return nullptr;
    std::size_t count = 0;
    const ResourceEntry* table = programResources(&count);
    for (std::size_t i = 0; i < count; ++i)
        if (nameMatches(type, table[i].type) && nameMatches(name, table[i].name))
            return &table[i];
    return nullptr;
}

const MenuItemTemplate* menuTemplate(LPCSTR name, std::size_t* count) {
    const ResourceEntry* entry = findResource(nullptr, name, RT_MENU);
    if (!entry)
        return nullptr;
    *count = entry->size / sizeof(MenuItemTemplate);
    return static_cast<const MenuItemTemplate*>(entry->data);
}

int menuBarHeight() {
    static int height = 0;
    if (height == 0) {
        if (ensureGui()) {
            QMenuBar bar;
            bar.addMenu(QStringLiteral("&File"));
            height = bar.sizeHint().height();
        }
        if (height <= 0)
            height = 20;
    }
    return height;
}

}  // namespace platform::win32

using namespace platform::win32;

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) { return moduleName ? nullptr : programModule(); }

void WINAPI InitCommonControls() { ensureGui(); }

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(findResource(module, name, type)));
}

namespace {
const ResourceEntry* entryOf(HRSRC resource) {
    if (!resource)
        return nullptr;
    std::size_t count = 0;
    const ResourceEntry* table = programResources(&count);
    auto* entry = reinterpret_cast<const ResourceEntry*>(resource);
    // Only handles FindResourceA gave out are followed.
    for (std::size_t i = 0; i < count; ++i)
        if (&table[i] == entry)
            return entry;
    return nullptr;
}
}  // namespace

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    if (module && module != programModule())
        return nullptr;
    const ResourceEntry* entry = entryOf(resource);
    return entry ? const_cast<void*>(entry->data) : nullptr;
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    if (module && module != programModule())
        return 0;
    const ResourceEntry* entry = entryOf(resource);
    return entry ? entry->size : 0;
}

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }

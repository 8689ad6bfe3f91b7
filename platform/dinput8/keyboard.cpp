#include <Qt>
#include <array>
#include <cstdio>
#include <vector>

#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/window_access.h"

namespace platform::dinput8 {

namespace {

// Linux input codes up to 88 are the PC's set-1 scan codes, which DirectInput
// uses as they are; the keys the PC sends with an 0xE0 prefix have codes of
// their own there and DIK codes with the high bit set here.
struct ExtendedKey {
    unsigned evdev;
    BYTE dik;
};
constexpr ExtendedKey kExtendedKeys[] = {
    {96, DIK_NUMPADENTER}, {97, DIK_RCONTROL}, {98, DIK_DIVIDE}, {99, DIK_SYSRQ},  {100, DIK_RMENU},
    {102, DIK_HOME},       {103, DIK_UP},      {104, DIK_PRIOR}, {105, DIK_LEFT},  {106, DIK_RIGHT},
    {107, DIK_END},        {108, DIK_DOWN},    {109, DIK_NEXT},  {110, DIK_INSERT}, {111, DIK_DELETE},
    {119, DIK_PAUSE},      {125, DIK_LWIN},    {126, DIK_RWIN},  {127, DIK_APPS},
};

struct NamedKey {
    BYTE dik;
    const char* name;
};
constexpr NamedKey kKeyNames[] = {
    {DIK_ESCAPE, "Esc"},      {DIK_1, "1"},           {DIK_2, "2"},           {DIK_3, "3"},
    {DIK_4, "4"},             {DIK_5, "5"},           {DIK_6, "6"},           {DIK_7, "7"},
    {DIK_8, "8"},             {DIK_9, "9"},           {DIK_0, "0"},           {DIK_MINUS, "-"},
    {DIK_EQUALS, "="},        {DIK_BACK, "Backspace"}, {DIK_TAB, "Tab"},      {DIK_Q, "Q"},
    {DIK_W, "W"},             {DIK_E, "E"},           {DIK_R, "R"},           {DIK_T, "T"},
    {DIK_Y, "Y"},             {DIK_U, "U"},           {DIK_I, "I"},           {DIK_O, "O"},
    {DIK_P, "P"},             {DIK_LBRACKET, "["},    {DIK_RBRACKET, "]"},    {DIK_RETURN, "Enter"},
    {DIK_LCONTROL, "Left Ctrl"}, {DIK_A, "A"},        {DIK_S, "S"},           {DIK_D, "D"},
    {DIK_F, "F"},             {DIK_G, "G"},           {DIK_H, "H"},           {DIK_J, "J"},
    {DIK_K, "K"},             {DIK_L, "L"},           {DIK_SEMICOLON, ";"},   {DIK_APOSTROPHE, "'"},
    {DIK_GRAVE, "`"},         {DIK_LSHIFT, "Left Shift"}, {DIK_BACKSLASH, "\\"}, {DIK_Z, "Z"},
    {DIK_X, "X"},             {DIK_C, "C"},           {DIK_V, "V"},           {DIK_B, "B"},
    {DIK_N, "N"},             {DIK_M, "M"},           {DIK_COMMA, ","},       {DIK_PERIOD, "."},
    {DIK_SLASH, "/"},         {DIK_RSHIFT, "Right Shift"}, {DIK_MULTIPLY, "Num *"}, {DIK_LMENU, "Left Alt"},
    {DIK_SPACE, "Space"},     {DIK_CAPITAL, "Caps Lock"}, {DIK_F1, "F1"},     {DIK_F2, "F2"},
    {DIK_F3, "F3"},           {DIK_F4, "F4"},         {DIK_F5, "F5"},         {DIK_F6, "F6"},
    {DIK_F7, "F7"},           {DIK_F8, "F8"},         {DIK_F9, "F9"},         {DIK_F10, "F10"},
    {DIK_NUMLOCK, "Num Lock"}, {DIK_SCROLL, "Scroll Lock"}, {DIK_NUMPAD7, "Num 7"}, {DIK_NUMPAD8, "Num 8"},
    {DIK_NUMPAD9, "Num 9"},   {DIK_SUBTRACT, "Num -"}, {DIK_NUMPAD4, "Num 4"}, {DIK_NUMPAD5, "Num 5"},
    {DIK_NUMPAD6, "Num 6"},   {DIK_ADD, "Num +"},     {DIK_NUMPAD1, "Num 1"}, {DIK_NUMPAD2, "Num 2"},
    {DIK_NUMPAD3, "Num 3"},   {DIK_NUMPAD0, "Num 0"}, {DIK_DECIMAL, "Num ."}, {DIK_OEM_102, "<"},
    {DIK_F11, "F11"},         {DIK_F12, "F12"},       {DIK_NUMPADENTER, "Num Enter"}, {DIK_RCONTROL, "Right Ctrl"},
    {DIK_DIVIDE, "Num /"},    {DIK_SYSRQ, "Print Screen"}, {DIK_RMENU, "Right Alt"}, {DIK_PAUSE, "Pause"},
    {DIK_HOME, "Home"},       {DIK_UP, "Up"},         {DIK_PRIOR, "Page Up"}, {DIK_LEFT, "Left"},
    {DIK_RIGHT, "Right"},     {DIK_END, "End"},       {DIK_DOWN, "Down"},     {DIK_NEXT, "Page Down"},
    {DIK_INSERT, "Insert"},   {DIK_DELETE, "Delete"}, {DIK_LWIN, "Left Windows"}, {DIK_RWIN, "Right Windows"},
    {DIK_APPS, "Menu"},
};

class Keyboard final : public Device {
public:
    explicit Keyboard(const DIDEVICEINSTANCEA& instance) : Device(instance) {
        listener_ = platform::addKeyboardListener(
            [this](HWND window, const platform::KeyboardNotification& n) { notified(window, n); });
    }

    bool hasObject(DWORD object) const override {
        return DIDFT_GETTYPE(object) == DIDFT_PSHBUTTON && DIDFT_GETINSTANCE(object) < 256 &&
               !keyName(static_cast<BYTE>(DIDFT_GETINSTANCE(object))).empty();
    }
    DWORD defaultObject(DWORD semantic) const override {
        if ((semantic & 0xFFFFFF00u) != DIKEYBOARD_PREFIX)
            return 0;
        const DWORD object = buttonObject(static_cast<int>(semantic & DISEM_INDEX_MASK));
        return hasObject(object) ? object : 0;
    }
    std::string objectName(DWORD object) const override {
        return hasObject(object) ? keyName(static_cast<BYTE>(DIDFT_GETINSTANCE(object))) : std::string();
    }
    std::string storeKey() const override { return "Keyboard"; }

protected:
    // Every event of the window system is in by the time the program reads.
    void pump() override { deliverPending(); }

    ~Keyboard() override { platform::removeKeyboardListener(listener_); }

    void onAcquired(bool now) override {
        if (!now)
            return;
        // Keys that were down when the window lost the keyboard were released
        // where this device could not see it; report them released now, or
        // they would stay held for the program forever.
        for (std::size_t dik = 0; dik < forgotten_.size(); ++dik) {
            if (forgotten_[dik])
                buttonChanged(buttonObject(static_cast<int>(dik)), false);
        }
        forgotten_.fill(false);
    }

private:
    void notified(HWND window, const platform::KeyboardNotification& n) {
        if (window != this->window() && this->window() != nullptr)
            return;
        using Kind = platform::KeyboardNotification::Kind;
        if (n.kind == Kind::FocusOut) {
            deliverPending();
            for (std::size_t dik = 0; dik < down_.size(); ++dik)
                forgotten_[dik] = forgotten_[dik] || down_[dik];
            down_.fill(false);
            if (foregroundOnly())
                loseAcquisition();
            return;
        }
        if (n.kind == Kind::FocusIn)
            return;
        const BYTE dik = dikFor(n.nativeScanCode, n.key, n.keypad);
        if (dik == 0)
            return;
        if (n.autoRepeat) {
            // The key is still held: a release held back for it was the
            // repeat's own, even when the GUI library saw through only the press.
            if (n.kind != Kind::KeyUp)
                std::erase_if(pending_, [dik](const PendingRelease& r) { return r.dik == dik; });
            return;
        }
        if (n.kind == Kind::KeyUp) {
            // Held back until the next event: an X server repeating a key
            // sends a release and a press of the same moment, which the GUI
            // library does not always recognise as a repeat.
            deliverPending();
            if (!down_[dik])
                return;
            if (n.timestamp != 0) {
                pending_.push_back(PendingRelease{dik, n.timestamp});
                return;
            }
            // Without an event time a repeat cannot be told apart.
            down_[dik] = false;
            buttonChanged(buttonObject(dik), false);
            return;
        }
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->dik == dik && it->timestamp == n.timestamp) {
                pending_.erase(it);
                return;
            }
        }
        deliverPending();
        // A press for a key already down is the window system repeating it.
        if (down_[dik])
            return;
        down_[dik] = true;
        forgotten_[dik] = false;
        buttonChanged(buttonObject(dik), true);
    }

    void deliverPending() {
        const std::vector<PendingRelease> releases = std::move(pending_);
        pending_.clear();
        for (const PendingRelease& r : releases) {
            down_[r.dik] = false;
            forgotten_[r.dik] = false;
            buttonChanged(buttonObject(r.dik), false);
        }
    }

    struct PendingRelease {
        BYTE dik;
        unsigned long timestamp;
    };

    int listener_ = 0;
    std::array<bool, 256> down_{};
    std::array<bool, 256> forgotten_{};
    std::vector<PendingRelease> pending_;
};

}  // namespace

BYTE dikFromNativeScanCode(unsigned nativeScanCode) {
    if (nativeScanCode <= 8)
        return 0;
    const unsigned evdev = nativeScanCode - 8;
    if (evdev <= DIK_F12)
        return keyName(static_cast<BYTE>(evdev)).empty() ? 0 : static_cast<BYTE>(evdev);
    for (const ExtendedKey& key : kExtendedKeys) {
        if (key.evdev == evdev)
            return key.dik;
    }
    return 0;
}

BYTE dikFromQtKey(int key, bool keypad) {
    if (keypad) {
        switch (key) {
        case Qt::Key_0: case Qt::Key_Insert: return DIK_NUMPAD0;
        case Qt::Key_1: case Qt::Key_End: return DIK_NUMPAD1;
        case Qt::Key_2: case Qt::Key_Down: return DIK_NUMPAD2;
        case Qt::Key_3: case Qt::Key_PageDown: return DIK_NUMPAD3;
        case Qt::Key_4: case Qt::Key_Left: return DIK_NUMPAD4;
        case Qt::Key_5: case Qt::Key_Clear: return DIK_NUMPAD5;
        case Qt::Key_6: case Qt::Key_Right: return DIK_NUMPAD6;
        case Qt::Key_7: case Qt::Key_Home: return DIK_NUMPAD7;
        case Qt::Key_8: case Qt::Key_Up: return DIK_NUMPAD8;
        case Qt::Key_9: case Qt::Key_PageUp: return DIK_NUMPAD9;
        case Qt::Key_Period: case Qt::Key_Delete: return DIK_DECIMAL;
        case Qt::Key_Plus: return DIK_ADD;
        case Qt::Key_Minus: return DIK_SUBTRACT;
        case Qt::Key_Asterisk: return DIK_MULTIPLY;
        case Qt::Key_Slash: return DIK_DIVIDE;
        case Qt::Key_Enter: return DIK_NUMPADENTER;
        default: break;
        }
    }
    static constexpr BYTE letters[26] = {DIK_A, DIK_B, DIK_C, DIK_D, DIK_E, DIK_F, DIK_G, DIK_H, DIK_I,
                                         DIK_J, DIK_K, DIK_L, DIK_M, DIK_N, DIK_O, DIK_P, DIK_Q, DIK_R,
                                         DIK_S, DIK_T, DIK_U, DIK_V, DIK_W, DIK_X, DIK_Y, DIK_Z};
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return letters[key - Qt::Key_A];
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return static_cast<BYTE>(DIK_1 + (key - Qt::Key_1));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10)
        return static_cast<BYTE>(DIK_F1 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_0: return DIK_0;
    case Qt::Key_F11: return DIK_F11;
    case Qt::Key_F12: return DIK_F12;
    case Qt::Key_Escape: return DIK_ESCAPE;
    case Qt::Key_Minus: return DIK_MINUS;
    case Qt::Key_Equal: return DIK_EQUALS;
    case Qt::Key_Backspace: return DIK_BACK;
    case Qt::Key_Tab: case Qt::Key_Backtab: return DIK_TAB;
    case Qt::Key_BracketLeft: return DIK_LBRACKET;
    case Qt::Key_BracketRight: return DIK_RBRACKET;
    case Qt::Key_Return: return DIK_RETURN;
    case Qt::Key_Enter: return DIK_NUMPADENTER;
    case Qt::Key_Control: return DIK_LCONTROL;
    case Qt::Key_Semicolon: return DIK_SEMICOLON;
    case Qt::Key_Apostrophe: return DIK_APOSTROPHE;
    case Qt::Key_QuoteLeft: return DIK_GRAVE;
    case Qt::Key_Shift: return DIK_LSHIFT;
    case Qt::Key_Backslash: return DIK_BACKSLASH;
    case Qt::Key_Comma: return DIK_COMMA;
    case Qt::Key_Period: return DIK_PERIOD;
    case Qt::Key_Slash: return DIK_SLASH;
    case Qt::Key_Alt: return DIK_LMENU;
    case Qt::Key_AltGr: return DIK_RMENU;
    case Qt::Key_Space: return DIK_SPACE;
    case Qt::Key_CapsLock: return DIK_CAPITAL;
    case Qt::Key_NumLock: return DIK_NUMLOCK;
    case Qt::Key_ScrollLock: return DIK_SCROLL;
    case Qt::Key_Print: case Qt::Key_SysReq: return DIK_SYSRQ;
    case Qt::Key_Pause: return DIK_PAUSE;
    case Qt::Key_Home: return DIK_HOME;
    case Qt::Key_Up: return DIK_UP;
    case Qt::Key_PageUp: return DIK_PRIOR;
    case Qt::Key_Left: return DIK_LEFT;
    case Qt::Key_Right: return DIK_RIGHT;
    case Qt::Key_End: return DIK_END;
    case Qt::Key_Down: return DIK_DOWN;
    case Qt::Key_PageDown: return DIK_NEXT;
    case Qt::Key_Insert: return DIK_INSERT;
    case Qt::Key_Delete: return DIK_DELETE;
    case Qt::Key_Meta: return DIK_LWIN;
    case Qt::Key_Menu: return DIK_APPS;
    case Qt::Key_Less: return DIK_OEM_102;
    default: return 0;
    }
}

BYTE dikFor(unsigned nativeScanCode, int key, bool keypad) {
    const BYTE fromScanCode = dikFromNativeScanCode(nativeScanCode);
    return fromScanCode ? fromScanCode : dikFromQtKey(key, keypad);
}

std::string keyName(BYTE dik) {
    for (const NamedKey& key : kKeyNames) {
        if (key.dik == dik)
            return key.name;
    }
    return std::string();
}

Device* createKeyboard() {
    DIDEVICEINSTANCEA instance{};
    instance.dwSize = sizeof(instance);
    instance.guidInstance = GUID_SysKeyboard;
    instance.guidProduct = GUID_SysKeyboard;
    instance.dwDevType = DI8DEVTYPE_KEYBOARD | (DI8DEVTYPEKEYBOARD_PCENH << 8);
    std::snprintf(instance.tszInstanceName, sizeof(instance.tszInstanceName), "Keyboard");
    std::snprintf(instance.tszProductName, sizeof(instance.tszProductName), "Keyboard");
    return new Keyboard(instance);
}

}  // namespace platform::dinput8

// The input layer's devices on a real window: enumeration by semantics,
// action maps with the user's stored choices, buffered data from SDL virtual
// game controllers (scaling, dead zone, overflow, unplugging), cooperative
// levels and COM start-up.
#include "tests/platform/dinput8/input_test_support.h"

#include <vector>

#include "platform/com/objbase.h"
#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/winreg.h"

using namespace inputtest;

namespace {

constexpr UINT_PTR kLateral = 1, kMove = 2, kSpecial = 9, kLeft = 3, kConfigure = 7;
const GUID kMap = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};

struct Format {
    DIACTIONA actions[5] = {
        {kLateral, DIAXIS_3DCONTROL_LATERAL, 0, {"Rotate left/right"}, GUID_NULL, 0, 0},
        {kMove, DIAXIS_3DCONTROL_MOVE, 0, {"Rotate up/down"}, GUID_NULL, 0, 0},
        {kSpecial, DIBUTTON_3DCONTROL_SPECIAL, 0, {"Play sound"}, GUID_NULL, 0, 0},
        {kLeft, DIKEYBOARD_LEFT, 0, {"Rotate left"}, GUID_NULL, 0, 0},
        {kConfigure, DIKEYBOARD_F3, DIA_APPFIXED, {"Configure Input"}, GUID_NULL, 0, 0},
    };
    DIACTIONFORMATA format{};
    Format() {
        format.dwSize = sizeof(DIACTIONFORMATA);
        format.dwActionSize = sizeof(DIACTIONA);
        format.dwDataSize = 5 * sizeof(DWORD);
        format.dwNumActions = 5;
        format.rgoAction = actions;
        format.guidActionMap = kMap;
        format.dwGenre = DIVIRTUAL_CAD_3DCONTROL;
        format.dwBufferSize = 16;
        format.lAxisMin = -100;
        format.lAxisMax = 100;
    }
};

struct Offered {
    DIDEVICEINSTANCEA instance;
    IDirectInputDevice8A* device;
};

BOOL keep(LPCDIDEVICEINSTANCEA instance, LPDIRECTINPUTDEVICE8A device, DWORD, DWORD, LPVOID list) {
    device->AddRef();
    static_cast<std::vector<Offered>*>(list)->push_back({*instance, device});
    return DIENUM_CONTINUE;
}

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        window = createRenderWindow();
        if (!window)
            GTEST_SKIP() << "needs a display";
        void* object = nullptr;
        ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &object,
                                     nullptr),
                  DI_OK);
        input = static_cast<IDirectInput8A*>(object);
    }
    void TearDown() override {
        releaseOffered();
        if (input)
            input->Release();
        if (window)
            DestroyWindow(window);
        settle(20);
    }
    void releaseOffered() {
        for (Offered& o : offered)
            o.device->Release();
        offered.clear();
    }
    std::vector<Offered>& enumerate() {
        releaseOffered();
        EXPECT_EQ(input->EnumDevicesBySemantics(nullptr, &f.format, keep, &offered, DIEDBSFL_ATTACHEDONLY), DI_OK);
        return offered;
    }
    IDirectInputDevice8A* controller() {
        for (Offered& o : enumerate()) {
            if (GET_DIDEVICE_TYPE(o.instance.dwDevType) == DI8DEVTYPE_GAMEPAD)
                return o.device;
        }
        return nullptr;
    }
    // Built, mapped, dead zone of 5 %, acquired in the foreground.
    void ready(IDirectInputDevice8A* device) {
        ASSERT_EQ(device->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), DI_OK);
        ASSERT_EQ(device->BuildActionMap(&f.format, nullptr, DIDBAM_DEFAULT), DI_OK);
        ASSERT_EQ(device->SetActionMap(&f.format, nullptr, DIDSAM_DEFAULT), DI_OK);
        DIPROPDWORD zone{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 500};
        device->SetProperty(DIPROP_DEADZONE, &zone.diph);
        ASSERT_EQ(device->Acquire(), DI_OK);
    }
    static std::vector<DIDEVICEOBJECTDATA> read(IDirectInputDevice8A* device, HRESULT* result = nullptr,
                                                DWORD most = 32) {
        std::vector<DIDEVICEOBJECTDATA> data(most);
        DWORD n = most;
        const HRESULT hr = device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data.data(), &n, 0);
        if (result)
            *result = hr;
        data.resize(SUCCEEDED(hr) ? n : 0);
        return data;
    }

    HWND window = nullptr;
    IDirectInput8A* input = nullptr;
    Format f;
    std::vector<Offered> offered;
};

TEST(DirectInput8Create, RefusesWrongArguments) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    IUnknown* outer = reinterpret_cast<IUnknown*>(&module);
    struct Case {
        const char* name;
        HINSTANCE instance;
        DWORD version;
        IID iid;
        IUnknown* outer;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no module", nullptr, 0x0800, IID_IDirectInput8A, nullptr, DIERR_INVALIDPARAM},
        {"older version", module, 0x0700, IID_IDirectInput8A, nullptr, DIERR_OLDDIRECTINPUTVERSION},
        {"newer version", module, 0x0900, IID_IDirectInput8A, nullptr, DIERR_BETADIRECTINPUTVERSION},
        {"device interface", module, 0x0800, IID_IDirectInputDevice8A, nullptr, DIERR_NOINTERFACE},
        {"aggregation", module, 0x0800, IID_IDirectInput8A, outer, (HRESULT)0x80040110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(DirectInput8Create(c.instance, c.version, c.iid, &object, c.outer), c.expected);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(DirectInput8Create(module, 0x0800, IID_IDirectInput8A, nullptr, nullptr), DIERR_INVALIDPARAM);
}

TEST(CoInitialize, NestsAndUnwindsPerThread) {
    const int before = platform::com::initializationDepth();
    EXPECT_EQ(CoInitialize(reinterpret_cast<LPVOID>(1)), E_INVALIDARG);
    EXPECT_EQ(platform::com::initializationDepth(), before);
    const HRESULT first = CoInitialize(nullptr);
    EXPECT_EQ(first, before == 0 ? S_OK : S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread other([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK) << "another thread starts on its own";
        CoUninitialize();
    });
    other.join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(platform::com::initializationDepth(), before);
    if (before == 0) {
        CoUninitialize();  // unmatched: ignored, not counted below zero
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }
}

TEST_F(Devices, OffersTheKeyboardAndEveryStandardController) {
    VirtualPad pad;
    VirtualPad odd(false, "Odd stick");
    ASSERT_GE(pad.index, 0);
    std::vector<Offered>& list = enumerate();
    ASSERT_EQ(list.size(), 2u) << "the stick without a standard layout is not offered";
    EXPECT_EQ(GET_DIDEVICE_TYPE(list[0].instance.dwDevType), DI8DEVTYPE_KEYBOARD);
    EXPECT_EQ(list[0].instance.guidInstance, GUID_SysKeyboard);
    EXPECT_EQ(GET_DIDEVICE_TYPE(list[1].instance.dwDevType), DI8DEVTYPE_GAMEPAD);
    EXPECT_STREQ(list[1].instance.tszProductName, "Virtual pad");

    // The keyboard serves the keys, the pad the axes and the button.
    struct Expect {
        std::size_t device;
        DWORD action;
        DWORD object;
        DWORD how;
    };
    const Expect expected[] = {
        {0, 3, DIDFT_MAKEINSTANCE(DIK_LEFT) | DIDFT_PSHBUTTON, DIAH_DEFAULT},
        {0, 4, DIDFT_MAKEINSTANCE(DIK_F3) | DIDFT_PSHBUTTON, DIAH_DEFAULT},
        {1, 0, DIDFT_MAKEINSTANCE(SDL_CONTROLLER_AXIS_LEFTX) | DIDFT_ABSAXIS, DIAH_DEFAULT},
        {1, 1, DIDFT_MAKEINSTANCE(SDL_CONTROLLER_AXIS_LEFTY) | DIDFT_ABSAXIS, DIAH_DEFAULT},
        {1, 2, DIDFT_MAKEINSTANCE(SDL_CONTROLLER_BUTTON_A) | DIDFT_PSHBUTTON, DIAH_DEFAULT},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.action);
        EXPECT_EQ(list[e.device].device->BuildActionMap(&f.format, nullptr, 0), DI_OK);
        EXPECT_EQ(f.actions[e.action].guidInstance, list[e.device].instance.guidInstance);
        EXPECT_EQ(f.actions[e.action].dwObjID, e.object);
        EXPECT_EQ(f.actions[e.action].dwHow, e.how);
    }
}

TEST_F(Devices, ControllerDataIsScaledToTheAxisRangeWithTheDeadZone) {
    VirtualPad pad;
    IDirectInputDevice8A* device = controller();
    ASSERT_NE(device, nullptr);
    ready(device);
    struct Step {
        const char* name;
        bool axis;
        int control;
        Sint16 value;
        bool event;
        UINT_PTR action;
        LONG data;
    };
    const Step steps[] = {
        {"full right", true, SDL_CONTROLLER_AXIS_LEFTX, 32767, true, kLateral, 100},
        {"full up", true, SDL_CONTROLLER_AXIS_LEFTY, -32768, true, kMove, -100},
        {"inside the dead zone", true, SDL_CONTROLLER_AXIS_LEFTX, 1600, true, kLateral, 0},
        {"still inside: nothing new", true, SDL_CONTROLLER_AXIS_LEFTX, -1500, false, 0, 0},
        {"half way, dead zone taken off", true, SDL_CONTROLLER_AXIS_LEFTX, 16384, true, kLateral, 47},
        {"an axis no action wants", true, SDL_CONTROLLER_AXIS_RIGHTX, 32767, false, 0, 0},
        {"south button down", false, SDL_CONTROLLER_BUTTON_A, 1, true, kSpecial, 0x80},
        {"south button up", false, SDL_CONTROLLER_BUTTON_A, 0, true, kSpecial, 0},
        {"a button no action wants", false, SDL_CONTROLLER_BUTTON_B, 1, false, 0, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.axis)
            pad.axis(s.control, s.value);
        else
            pad.button(s.control, s.value != 0);
        EXPECT_EQ(device->Poll(), DI_OK);
        HRESULT hr = E_FAIL;
        const std::vector<DIDEVICEOBJECTDATA> data = read(device, &hr);
        EXPECT_EQ(hr, DI_OK);
        ASSERT_EQ(data.size(), s.event ? 1u : 0u);
        if (s.event) {
            EXPECT_EQ(data[0].uAppData, s.action);
            EXPECT_EQ(static_cast<LONG>(data[0].dwData), s.data);
        }
    }
}

TEST_F(Devices, AFullBufferKeepsTheOldestAndReportsTheOverflow) {
    VirtualPad pad;
    IDirectInputDevice8A* device = controller();
    ASSERT_NE(device, nullptr);
    ready(device);
    for (int i = 0; i < 10; ++i) {
        pad.button(SDL_CONTROLLER_BUTTON_A, true);
        device->Poll();
        pad.button(SDL_CONTROLLER_BUTTON_A, false);
        device->Poll();
    }
    HRESULT hr = E_FAIL;
    std::vector<DIDEVICEOBJECTDATA> data = read(device, &hr, 10);
    EXPECT_EQ(hr, DI_BUFFEROVERFLOW);
    ASSERT_EQ(data.size(), 10u);
    EXPECT_EQ(data[0].dwData, 0x80u) << "the first press is kept";
    for (std::size_t i = 1; i < data.size(); ++i)
        EXPECT_GT(data[i].dwSequence, data[i - 1].dwSequence);
    data = read(device, &hr, 10);
    EXPECT_EQ(hr, DI_OK) << "the overflow is reported once";
    EXPECT_EQ(data.size(), 6u) << "16 kept in all";
    EXPECT_EQ(read(device, &hr).size(), 0u);
}

TEST_F(Devices, AnUnpluggedControllerReportsInputLostAndANewOneIsOfferedNextTime) {
    auto pad = std::make_unique<VirtualPad>();
    IDirectInputDevice8A* device = controller();
    ASSERT_NE(device, nullptr);
    device->AddRef();
    ready(device);
    pad->axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    pad->detach();
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(read(device, &hr).empty());
    EXPECT_EQ(hr, DIERR_INPUTLOST);
    EXPECT_EQ(device->Poll(), DIERR_INPUTLOST);
    EXPECT_EQ(device->Unacquire(), DI_NOEFFECT);
    EXPECT_EQ(device->Acquire(), DIERR_INPUTLOST);
    EXPECT_EQ(enumerate().size(), 1u) << "only the keyboard is left";

    VirtualPad second(true, "Second pad");
    std::vector<Offered>& list = enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list[1].instance.tszProductName, "Second pad");
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(Devices, AForegroundDeviceStopsWhileItsWindowIsInactive) {
    VirtualPad pad;
    IDirectInputDevice8A* device = controller();
    ASSERT_NE(device, nullptr);
    ready(device);
    QWidget* other = createOtherWindow();
    ASSERT_TRUE(pumpUntil([this] { return !windowActive(window); })) << "the window system kept the focus";
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(read(device, &hr).empty());
    EXPECT_EQ(hr, DIERR_NOTACQUIRED);
    EXPECT_EQ(device->Acquire(), DIERR_OTHERAPPHASPRIO);
    delete other;
    SetForegroundWindow(window);
    ASSERT_TRUE(pumpUntil([this] { return windowActive(window); }));
    EXPECT_EQ(device->Acquire(), DI_OK);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, -32768);
    const std::vector<DIDEVICEOBJECTDATA> data = read(device, &hr);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(static_cast<LONG>(data[0].dwData), -100);
}

TEST_F(Devices, CooperativeLevelsAndPropertiesCheckTheirArguments) {
    IDirectInputDevice8A* keyboard = enumerate().at(0).device;
    struct Level {
        HWND window;
        DWORD flags;
        HRESULT expected;
    };
    const Level levels[] = {
        {window, DISCL_NONEXCLUSIVE, DIERR_INVALIDPARAM},
        {window, DISCL_FOREGROUND | DISCL_BACKGROUND | DISCL_NONEXCLUSIVE, DIERR_INVALIDPARAM},
        {window, DISCL_EXCLUSIVE | DISCL_BACKGROUND, DIERR_UNSUPPORTED},
        {nullptr, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND, E_HANDLE},
        {nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND, DI_OK},
        {window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND, DI_OK},
    };
    for (const Level& l : levels)
        EXPECT_EQ(keyboard->SetCooperativeLevel(l.window, l.flags), l.expected) << std::hex << l.flags;
    DIPROPDWORD zone{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 10001};
    EXPECT_EQ(keyboard->SetProperty(DIPROP_DEADZONE, &zone.diph), DIERR_INVALIDPARAM);
    zone.dwData = 500;
    EXPECT_EQ(keyboard->SetProperty(DIPROP_DEADZONE, &zone.diph), DIERR_UNSUPPORTED) << "a keyboard has no axes";
    EXPECT_EQ(keyboard->SetProperty(DIPROP_DEADZONE, nullptr), DIERR_INVALIDPARAM);
    DWORD n = 4;
    DIDEVICEOBJECTDATA data[4];
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &n, 0), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->BuildActionMap(&f.format, nullptr, 0), DI_OK);
    ASSERT_EQ(keyboard->SetActionMap(&f.format, nullptr, 0), DI_OK);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_NOEFFECT);
    EXPECT_EQ(keyboard->SetActionMap(&f.format, nullptr, 0), DIERR_ACQUIRED);
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA) - 1, data, &n, 0), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->Unacquire(), DI_OK);
    EXPECT_EQ(keyboard->Unacquire(), DI_NOEFFECT);
}

TEST_F(Devices, WithoutTheControllerSubsystemTheKeyboardStillWorks) {
    VirtualPad pad;
    releaseOffered();
    input->Release();
    input = nullptr;
    platform::dinput8::failControllerStartForTesting(true);
    void* object = nullptr;
    const HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                          &object, nullptr);
    platform::dinput8::failControllerStartForTesting(false);
    ASSERT_EQ(hr, DI_OK);
    input = static_cast<IDirectInput8A*>(object);
    std::vector<Offered>& list = enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(GET_DIDEVICE_TYPE(list[0].instance.dwDevType), DI8DEVTYPE_KEYBOARD);
    ready(list[0].device);
}

TEST_F(Devices, StoredChoicesApplyUnlessTheyAreUnreadableOrNameAMissingControl) {
    VirtualPad pad;
    const std::string keyboardKey = "Software\\DirectInput\\Action Maps\\" + platform::dinput8::guidText(kMap) +
                                    "\\Keyboard";
    auto store = [&](const DIACTIONA& action, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyboardKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, platform::dinput8::mappingValueName(action).c_str(), 0, type,
                       static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    };
    const DWORD home = DIDFT_MAKEINSTANCE(DIK_HOME) | DIDFT_PSHBUTTON;
    const DWORD left = DIDFT_MAKEINSTANCE(DIK_LEFT) | DIDFT_PSHBUTTON;
    const DWORD f3 = DIDFT_MAKEINSTANCE(DIK_F3) | DIDFT_PSHBUTTON;
    const DWORD noSuchKey = DIDFT_MAKEINSTANCE(0xFE) | DIDFT_PSHBUTTON;
    const DWORD anAxis = DIDFT_MAKEINSTANCE(0) | DIDFT_ABSAXIS;
    struct Case {
        const char* name;
        DWORD type;
        DWORD value;
        std::size_t action;
        DWORD objectAfter;
        DWORD howAfter;
    };
    const Case cases[] = {
        {"a key the user chose", REG_DWORD, home, 3, home, DIAH_USERCONFIG},
        {"text where a control belongs", REG_SZ, 0, 3, left, DIAH_DEFAULT},
        {"a key the keyboard lacks", REG_DWORD, noSuchKey, 3, left, DIAH_DEFAULT},
        {"an axis for a key action", REG_DWORD, anAxis, 3, left, DIAH_DEFAULT},
        {"the key of a fixed action", REG_DWORD, f3, 3, left, DIAH_DEFAULT},
        {"a fixed action moved", REG_DWORD, home, 4, f3, DIAH_DEFAULT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(PrivateConfigEnvironment::storeFile());
        if (c.type == REG_SZ)
            store(f.actions[c.action], REG_SZ, "Home", 5);
        else
            store(f.actions[c.action], c.type, &c.value, sizeof(c.value));
        IDirectInputDevice8A* keyboard = enumerate().at(0).device;
        ASSERT_EQ(keyboard->BuildActionMap(&f.format, nullptr, 0), DI_OK);
        EXPECT_EQ(f.actions[c.action].dwObjID, c.objectAfter);
        EXPECT_EQ(f.actions[c.action].dwHow, c.howAfter);
        ASSERT_EQ(keyboard->SetActionMap(&f.format, nullptr, 0), DI_OK);
    }
    // A file that is not a store at all: defaults, no crash.
    {
        std::FILE* file = std::fopen(PrivateConfigEnvironment::storeFile().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("\x01\x02garbage [HKEY_CURRENT_USER\\\n\"=dword:zz\n", file);
        std::fclose(file);
        IDirectInputDevice8A* keyboard = enumerate().at(0).device;
        ASSERT_EQ(keyboard->BuildActionMap(&f.format, nullptr, 0), DI_OK);
        EXPECT_EQ(f.actions[3].dwObjID, left);
    }
    std::filesystem::remove(PrivateConfigEnvironment::storeFile());
}

}  // namespace

// Before any test: the settings store of this program is private.
[[maybe_unused]] ::testing::Environment* const privateConfig =
    ::testing::AddGlobalTestEnvironment(new PrivateConfigEnvironment());

// Inside the input layer: the device base that every kind of device shares
// (action bindings, the event buffer, acquisition and the dead zone), the
// keyboard and game-controller devices, key-code translation and the user's
// stored mappings. Only this layer's files and its tests include it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dinput8/dinput.h"

namespace platform::dinput8 {

// ---- Controls ------------------------------------------------------------------

inline bool isAxisObject(DWORD object) { return (DIDFT_GETTYPE(object) & DIDFT_AXIS) != 0; }
inline bool isButtonObject(DWORD object) { return (DIDFT_GETTYPE(object) & DIDFT_BUTTON) != 0; }
inline DWORD axisObject(int instance) { return DIDFT_MAKEINSTANCE(instance) | DIDFT_ABSAXIS; }
inline DWORD buttonObject(int instance) { return DIDFT_MAKEINSTANCE(instance) | DIDFT_PSHBUTTON; }
inline bool isAxisSemantic(DWORD semantic) { return (semantic & DISEM_TYPE_MASK) == DISEM_TYPE_AXIS; }

// The DIK code of a key: from the window system's key code when it has one
// (X11 and Wayland: the evdev code + 8), else from the GUI library's key and
// keypad flag. 0 for a key DirectInput has no code for.
BYTE dikFromNativeScanCode(unsigned nativeScanCode);
BYTE dikFromQtKey(int key, bool keypad);
BYTE dikFor(unsigned nativeScanCode, int key, bool keypad);
// "Left", "F5", "A"; empty for a code without a key.
std::string keyName(BYTE dik);

// ---- Stored user mappings ----------------------------------------------------------

// Per action (by index into the format): the control the user chose, 0 for
// "none". Actions the user never changed are absent.
using StoredMapping = std::map<DWORD, DWORD>;

// The registry value an action's user choice is kept under.
std::string mappingValueName(const DIACTIONA& action);
// Reads what the user stored for this format and device. Values that are not
// a DWORD are ignored; whether a control exists is the device's question.
StoredMapping readStoredMapping(const DIACTIONFORMATA& format, const std::string& deviceKey);
// Replaces what is stored for the device: the actions in `choices` are
// written, every other action of the format is removed. False if the store
// refused the change.
bool writeStoredMapping(const DIACTIONFORMATA& format, const std::string& deviceKey, const StoredMapping& choices);

// ---- Devices ------------------------------------------------------------------------

struct ActionBinding {
    DWORD object = 0;
    DWORD how = DIAH_UNMAPPED;
};

class Device : public platform::com::ComObject<IDirectInputDevice8A> {
public:
    explicit Device(const DIDEVICEINSTANCEA& instance);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override;
    HRESULT SetProperty(REFGUID property, LPCDIPROPHEADER header) override;
    HRESULT GetDeviceData(DWORD objectDataSize, LPDIDEVICEOBJECTDATA data, LPDWORD inOut, DWORD flags) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT Poll() override;
    HRESULT BuildActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) override;
    HRESULT SetActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) override;

    const DIDEVICEINSTANCEA& instance() const { return instance_; }
    // Which control each action of the format gets on this device: fixed
    // actions their default, then the user's stored choices that name a
    // control of the right kind, then the defaults of the rest; no control
    // serves two actions.
    std::vector<ActionBinding> bindingsFor(const DIACTIONFORMATA& format, const StoredMapping& stored) const;
    std::vector<ActionBinding> defaultBindingsFor(const DIACTIONFORMATA& format) const;

    virtual bool hasObject(DWORD object) const = 0;
    virtual DWORD defaultObject(DWORD semantic) const = 0;
    virtual std::string objectName(DWORD object) const = 0;
    // Sub key of the user's stored mappings for this kind of device.
    virtual std::string storeKey() const = 0;
    virtual bool unplugged() const { return false; }

protected:
    ~Device() override;

    // A control changed. Buttons and keys: down or up; axes: the position in
    // -32768..32767.
    void buttonChanged(DWORD object, bool down);
    void axisChanged(DWORD object, int position);
    // Foreground devices stop delivering when their window goes inactive.
    void loseAcquisition();
    bool foregroundOnly() const { return (cooperation_ & DISCL_FOREGROUND) != 0; }
    bool windowActive() const;
    HWND window() const { return window_; }
    bool acquired() const { return acquired_; }

    // Fetches the window system's pending events for this device.
    virtual void pump() {}
    virtual void onAcquired(bool now) { (void)now; }
    virtual bool polled() const { return false; }

private:
    void queue(DWORD actionIndex, UINT_PTR appData, DWORD data);
    LONG scaledAxis(DWORD object, int position) const;

    struct Bound {
        DWORD actionIndex;
        UINT_PTR appData;
    };

    DIDEVICEINSTANCEA instance_;
    HWND window_ = nullptr;
    DWORD cooperation_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    bool acquired_ = false;
    std::map<DWORD, Bound> bound_;
    std::map<DWORD, LONG> lastAxisData_;
    DWORD bufferSize_ = 0;
    std::vector<DIDEVICEOBJECTDATA> buffer_;
    bool overflowed_ = false;
    LONG axisMin_ = 0;
    LONG axisMax_ = 65535;
    DWORD deadZone_ = 0;
    std::map<DWORD, DWORD> objectDeadZones_;
};

// The keyboard: the render window's key events.
Device* createKeyboard();

// Game controllers with a standard layout, through SDL's game-controller
// subsystem. The subsystem is started by the first DirectInput object and
// stopped with the last; when it cannot start there are no controllers.
bool startControllers();
void stopControllers();
// Opens every attached controller with a standard mapping as a device; the
// caller owns one reference to each.
std::vector<Device*> createControllers();
// Fetches pending controller events and hands them to the devices. An
// observer, when set, also sees every change (the configuration window).
struct ControllerChange {
    std::string deviceKey;   // instance GUID as text
    DWORD object = 0;
    int position = 0;        // axes: -32768..32767; buttons: 1 down, 0 up
};
void pumpControllers();
void setControllerObserver(std::function<void(const ControllerChange&)> observer);
// Makes the next start of the subsystem fail as a broken SDL would.
void failControllerStartForTesting(bool fail);
std::string guidText(const GUID& guid);

// The configuration window; DI_OK on OK and on Cancel.
HRESULT runConfiguration(HWND owner, DIACTIONFORMATA* format, const std::vector<Device*>& devices, bool edit);

}  // namespace platform::dinput8

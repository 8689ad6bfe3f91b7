#include "viewer/input_mapper.h"

#include "viewer/viewer_app.h"

#include <cmath>
#include <cstring>
#include <new>

DIACTIONA inputActions[kInputActionCount] = {
    {RotateAxisLeftRight, DIAXIS_3DCONTROL_LATERAL, 0, {"Rotate left/right"}, GUID_NULL, 0, 0},
    {RotateAxisUpDown, DIAXIS_3DCONTROL_MOVE, 0, {"Rotate up/down"}, GUID_NULL, 0, 0},
    {PlaySound, DIBUTTON_3DCONTROL_SPECIAL, 0, {"Play sound"}, GUID_NULL, 0, 0},
    {RotateLeft, DIKEYBOARD_LEFT, 0, {"Rotate left"}, GUID_NULL, 0, 0},
    {RotateRight, DIKEYBOARD_RIGHT, 0, {"Rotate right"}, GUID_NULL, 0, 0},
    {RotateUp, DIKEYBOARD_UP, 0, {"Rotate up"}, GUID_NULL, 0, 0},
    {RotateDown, DIKEYBOARD_DOWN, 0, {"Rotate down"}, GUID_NULL, 0, 0},
    {PlaySound, DIKEYBOARD_F5, 0, {"Play sound"}, GUID_NULL, 0, 0},
    {ConfigureDisplay, DIKEYBOARD_F2, DIA_APPFIXED, {"Configure Display"}, GUID_NULL, 0, 0},
    {ConfigureInput, DIKEYBOARD_F3, DIA_APPFIXED, {"Configure Input"}, GUID_NULL, 0, 0},
};

namespace {

constexpr DWORD kDeviceGrowth = 10;
constexpr DWORD kEventsPerPoll = 10;

// Visits every device the mapper holds, in mapping order.
template <typename Visit>
void ForEachMappedDevice(InputMapper* inputMapper, Visit visit) {
    MappedDevice* devices = nullptr;
    DWORD count = 0;
    inputMapper->ListDevices(&devices, &count);
    for (DWORD i = 0; i < count; ++i)
        visit(devices[i]);
}

// Visits only the devices that have a state, i.e. those that took part in the last enumeration.
template <typename Visit>
void ForEachDeviceState(InputMapper* inputMapper, Visit visit) {
    ForEachMappedDevice(inputMapper, [&](MappedDevice& record) {
        if (record.state)
            visit(record, *record.state);
    });
}

}  // namespace

// ---- InputMapper ---------------------------------------------------------------------

InputMapper::InputMapper()
    : comInitialized(SUCCEEDED(CoInitialize(nullptr))),
      window(nullptr),
      userName(nullptr),
      directInput(nullptr),
      devices(nullptr),
      capacity(kDeviceGrowth),
      count(0),
      format(),
      addedCallback(nullptr),
      addedCallbackData(nullptr) {
    devices = new MappedDevice[capacity]();
}

InputMapper::~InputMapper() {
    ReleaseDevices();
    delete[] devices;
    devices = nullptr;
    if (directInput) {
        directInput->Release();
        directInput = nullptr;
    }
    if (comInitialized)
        CoUninitialize();
}

HRESULT InputMapper::Connect(HWND window, LPCSTR userName, const DIACTIONFORMATA* format,
                             DeviceAddedCallback callback, void* callbackData) {
    this->userName = userName;
    this->window = window;
    addedCallback = callback;
    addedCallbackData = callbackData;
    void* created = nullptr;
    const HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                          &created, nullptr);
    if (FAILED(hr))
        return hr;
    directInput = static_cast<IDirectInput8A*>(created);
    const HRESULT applied = ApplyActionFormat(format, true);
    return FAILED(applied) ? applied : S_OK;
}

HRESULT InputMapper::ApplyActionFormat(const DIACTIONFORMATA* format, bool reenumerate) {
    if (!format)
        return E_INVALIDARG;
    std::memcpy(&this->format, format, sizeof(DIACTIONFORMATA));
    if (reenumerate) {
        ReleaseDevices();
        if (!directInput)
            return E_FAIL;
        const HRESULT hr = directInput->EnumDevicesBySemantics(userName, &this->format, EnumerationCallback, this,
                                                               DIEDBSFL_ATTACHEDONLY);
        if (FAILED(hr))
            return hr;
    } else {
        UnacquireAll();
        for (DWORD i = 0; i < count; ++i) {
            HRESULT hr = devices[i].device->BuildActionMap(&this->format, userName, DIDBAM_DEFAULT);
            if (FAILED(hr))
                return hr;
            hr = devices[i].device->SetActionMap(&this->format, userName, DIDSAM_DEFAULT);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

BOOL InputMapper::EnumerationCallback(LPCDIDEVICEINSTANCEA instance, LPDIRECTINPUTDEVICE8A device, DWORD flags,
                                      DWORD remaining, LPVOID mapper) {
    (void)flags;
    (void)remaining;
    // A device that cannot be added is left out; the others still are.
    static_cast<InputMapper*>(mapper)->AttachDevice(instance, device);
    return DIENUM_CONTINUE;
}

HRESULT InputMapper::AttachDevice(const DIDEVICEINSTANCEA* instance, IDirectInputDevice8A* device) {
    if (!device)
        return E_INVALIDARG;
    device->Unacquire();
    HRESULT hr = device->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
    if (FAILED(hr))
        return hr;
    if (count >= capacity) {
        MappedDevice* grown = new (std::nothrow) MappedDevice[capacity + kDeviceGrowth]();
        if (!grown)
            return E_OUTOFMEMORY;
        for (DWORD i = 0; i < capacity; ++i)
            grown[i] = std::move(devices[i]);
        delete[] devices;
        devices = grown;
        capacity += kDeviceGrowth;
    }
    MappedDevice* record = &devices[count];
    record->device = device;
    if (addedCallback)
        hr = addedCallback(record, instance, addedCallbackData);
    if (SUCCEEDED(hr))
        hr = device->BuildActionMap(&format, userName, DIDBAM_DEFAULT);
    if (SUCCEEDED(hr))
        hr = device->SetActionMap(&format, userName, DIDSAM_DEFAULT);
    if (FAILED(hr)) {
        // The record is not counted: it must hold nothing of the device.
        record->device = nullptr;
        record->state.reset();
        return hr;
    }
    device->AddRef();
    count += 1;
    return S_OK;
}

HRESULT InputMapper::ListDevices(MappedDevice** devices, DWORD* count) {
    if (!devices || !count)
        return E_INVALIDARG;
    *devices = this->devices;
    *count = this->count;
    return S_OK;
}

void InputMapper::ReleaseDevices() {
    for (DWORD i = 0; i < count; ++i) {
        devices[i].device->Unacquire();
        devices[i].device->Release();
        devices[i].device = nullptr;
    }
    count = 0;
}

void InputMapper::UnacquireAll() {
    for (DWORD i = 0; i < count; ++i)
        devices[i].device->Unacquire();
}

HRESULT InputMapper::RunConfiguration(HWND window, IUnknown* targetSurface, LPDICONFIGUREDEVICESCALLBACK callback,
                                      DWORD flags, void* callbackData) {
    DICONFIGUREDEVICESPARAMSA params;
    std::memset(&params, 0, sizeof(params));
    params.dwSize = sizeof(DICONFIGUREDEVICESPARAMSA);
    if (userName) {
        params.dwcUsers = 1;
        params.lptszUserNames = const_cast<LPSTR>(userName);
    }
    params.dwcFormats = 1;
    params.lprgFormats = &format;
    params.hwnd = window;
    params.lpUnkDDSTarget = targetSurface;
    UnacquireAll();
    if (!directInput)
        return E_FAIL;
    HRESULT hr = directInput->ConfigureDevices(callback, &params, flags, callbackData);
    if (FAILED(hr))
        return hr;
    if (flags & DICD_EDIT) {
        hr = ApplyActionFormat(&format, true);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// ---- The viewer's input operations -----------------------------------------------------

void FillActionFormat(DIACTIONFORMATA* actionFormat) {
    std::memset(actionFormat, 0, sizeof(DIACTIONFORMATA));
    actionFormat->dwSize = sizeof(DIACTIONFORMATA);
    actionFormat->dwActionSize = sizeof(DIACTIONA);
    actionFormat->dwDataSize = kInputActionCount * sizeof(DWORD);
    actionFormat->dwNumActions = kInputActionCount;
    actionFormat->rgoAction = inputActions;
    actionFormat->guidActionMap = kInputActionMapGuid;
    actionFormat->dwGenre = DIVIRTUAL_CAD_3DCONTROL;
    actionFormat->dwBufferSize = 16;
    actionFormat->lAxisMin = -100;
    actionFormat->lAxisMax = 100;
    std::strncpy(actionFormat->tszActionMap, "vibrolane Game", sizeof(actionFormat->tszActionMap) - 1);
}

HRESULT OnInputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance) {
    (void)instance;
    DIPROPDWORD deadZone;
    deadZone.diph.dwSize = sizeof(DIPROPDWORD);
    deadZone.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    deadZone.diph.dwObj = 0;
    deadZone.diph.dwHow = DIPH_DEVICE;
    deadZone.dwData = 500;
    record->device->SetProperty(DIPROP_DEADZONE, &deadZone.diph);
    record->state = std::make_unique<InputDeviceState>();
    return S_OK;
}

void PollInput(InputMapper* inputMapper, UserInput* userInput) {
    if (!inputMapper)
        return;
    ForEachDeviceState(inputMapper, [&](MappedDevice& record, InputDeviceState& state) {
        IDirectInputDevice8A* device = record.device;
        device->Acquire();
        device->Poll();
        DIDEVICEOBJECTDATA events[kEventsPerPoll];
        DWORD read = kEventsPerPoll;
        if (FAILED(device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &read, 0)))
            return;
        for (DWORD e = 0; e < read; ++e) {
            const DWORD value = events[e].dwData;
            const BOOL button = value == 0x80;
            const float axis = static_cast<float>(static_cast<LONG>(value)) * 0.01f;
            switch (events[e].uAppData) {
            case RotateAxisLeftRight: state.axisLeftRight = -axis; break;
            case RotateAxisUpDown: state.axisUpDown = -axis; break;
            case RotateLeft: state.rotateLeft = button; break;
            case RotateRight: state.rotateRight = button; break;
            case RotateUp: state.rotateUp = button; break;
            case RotateDown: state.rotateDown = button; break;
            case PlaySound: state.playSound = button; break;
            case ConfigureInput:
                if (button)
                    userInput->configureInputRequested = TRUE;
                break;
            case ConfigureDisplay:
                if (button)
                    userInput->configureDisplayRequested = TRUE;
                break;
            default: break;
            }
        }
    });

    userInput->axisLeftRight = 0.0f;
    userInput->axisUpDown = 0.0f;
    userInput->playSoundDown = FALSE;
    ForEachDeviceState(inputMapper, [&](MappedDevice&, const InputDeviceState& state) {
        if (std::fabs(state.axisLeftRight) > std::fabs(userInput->axisLeftRight))
            userInput->axisLeftRight = state.axisLeftRight;
        if (std::fabs(state.axisUpDown) > std::fabs(userInput->axisUpDown))
            userInput->axisUpDown = state.axisUpDown;
        if (state.rotateLeft)
            userInput->axisLeftRight = 1.0f;
        else if (state.rotateRight)
            userInput->axisLeftRight = -1.0f;
        if (state.rotateUp)
            userInput->axisUpDown = 1.0f;
        else if (state.rotateDown)
            userInput->axisUpDown = -1.0f;
        if (state.playSound)
            userInput->playSoundDown = TRUE;
    });
}

void ClearInputDeviceStates(InputMapper* inputMapper) {
    if (!inputMapper)
        return;
    ForEachDeviceState(inputMapper, [](MappedDevice&, InputDeviceState& state) { state = InputDeviceState(); });
}

void FreeInputDeviceStates(InputMapper* inputMapper) {
    if (!inputMapper)
        return;
    ForEachMappedDevice(inputMapper, [](MappedDevice& record) { record.state.reset(); });
}

void RestoreInputDeviceStates(InputMapper* inputMapper) {
    if (!inputMapper)
        return;
    ForEachMappedDevice(inputMapper, [](MappedDevice& record) {
        if (!record.state)
            OnInputDeviceAdded(&record, nullptr);
    });
}

void ReleaseInput(InputMapper*& inputMapper) {
    if (!inputMapper)
        return;
    FreeInputDeviceStates(inputMapper);
    delete inputMapper;
    inputMapper = nullptr;
}

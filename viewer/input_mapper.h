// Input mapping of the viewer: the action map it declares to DirectInput,
// the InputMapper that creates DirectInput and keeps the mapped devices, the
// state the viewer keeps per device, and the viewer's input operations that
// turn each frame's buffered device events into its UserInput.
#pragma once

#include <memory>

#include "platform/dinput8/dinput.h"
#include "platform/win32/windows.h"

// Application values of the actions.
enum InputAction : DWORD {
    RotateAxisLeftRight = 1,
    RotateAxisUpDown = 2,
    RotateLeft = 3,
    RotateRight = 4,
    RotateUp = 5,
    RotateDown = 6,
    ConfigureInput = 7,
    ConfigureDisplay = 8,
    PlaySound = 9,
};

struct UserInput;  // the viewer's combined input of a frame

// What one device last reported; every field keeps its value until an event
// for its action arrives.
struct InputDeviceState {
    float axisLeftRight;
    BOOL rotateLeft;
    BOOL rotateRight;
    float axisUpDown;
    BOOL rotateUp;
    BOOL rotateDown;
    BOOL playSound;
};

// A record owns its state, so a state given to a record that is later left
// out, reused or dropped with the mapper goes with it.
struct MappedDevice {
    IDirectInputDevice8A* device;            // a reference the InputMapper owns
    std::unique_ptr<InputDeviceState> state;  // set by the viewer, or none
};

using DeviceAddedCallback = HRESULT (*)(MappedDevice* record, const DIDEVICEINSTANCEA* instance, void* data);

inline constexpr DWORD kInputActionCount = 10;
// The action table; DirectInput writes each action's control into it.
extern DIACTIONA inputActions[kInputActionCount];
// {01CD6583-D9C1-4D90-977E-218E8D86F09C}
inline constexpr GUID kInputActionMapGuid = {0x01CD6583, 0xD9C1, 0x4D90, {0x97, 0x7E, 0x21, 0x8E, 0x8D, 0x86, 0xF0, 0x9C}};

class InputMapper {
public:
    InputMapper();
    ~InputMapper();
    InputMapper(const InputMapper&) = delete;
    InputMapper& operator=(const InputMapper&) = delete;

    HRESULT Connect(HWND window, LPCSTR userName, const DIACTIONFORMATA* format, DeviceAddedCallback callback,
                    void* callbackData);
    HRESULT ApplyActionFormat(const DIACTIONFORMATA* format, bool reenumerate);
    HRESULT AttachDevice(const DIDEVICEINSTANCEA* instance, IDirectInputDevice8A* device);
    // E_INVALIDARG if either out-pointer is missing.
    HRESULT ListDevices(MappedDevice** devices, DWORD* count);
    void UnacquireAll();
    HRESULT RunConfiguration(HWND window, IUnknown* targetSurface, LPDICONFIGUREDEVICESCALLBACK callback, DWORD flags,
                             void* callbackData);

private:
    static BOOL EnumerationCallback(LPCDIDEVICEINSTANCEA instance, LPDIRECTINPUTDEVICE8A device, DWORD flags,
                                    DWORD remaining, LPVOID mapper);
    // Lets go of every mapped device; the records keep their states until
    // they are reused or the mapper goes.
    void ReleaseDevices();

    BOOL comInitialized;
    HWND window;
    LPCSTR userName;
    IDirectInput8A* directInput;
    MappedDevice* devices;
    DWORD capacity;
    DWORD count;
    DIACTIONFORMATA format;
    DeviceAddedCallback addedCallback;
    void* addedCallbackData;
};

// The viewer's input operations on its fields (inputMapper, actionFormat,
// userInput); its members of the same names call these.

// SetUpInput step 1: zeroes the format and fills it with the action table.
void FillActionFormat(DIACTIONFORMATA* actionFormat);
// Dead zone 500 for the whole device and a fresh, zeroed state.
HRESULT OnInputDeviceAdded(MappedDevice* record, const DIDEVICEINSTANCEA* instance);
void PollInput(InputMapper* inputMapper, UserInput* userInput);
// Pause: every state back to zero, so that nothing held stays held.
void ClearInputDeviceStates(InputMapper* inputMapper);
// Before a configuration and at release: every state freed.
void FreeInputDeviceStates(InputMapper* inputMapper);
// A fresh state for every device that has none, as a re-enumeration gives.
void RestoreInputDeviceStates(InputMapper* inputMapper);
// Frees every state, destroys the mapper and sets it to none.
void ReleaseInput(InputMapper*& inputMapper);

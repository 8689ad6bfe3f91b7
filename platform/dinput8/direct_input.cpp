#include <cstdio>

#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/window_access.h"

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)

namespace platform::dinput8 {

namespace {

bool validFormat(const DIACTIONFORMATA* format) {
    return format && format->dwSize == sizeof(DIACTIONFORMATA) && format->dwActionSize == sizeof(DIACTIONA) &&
           (format->dwNumActions == 0 || format->rgoAction != nullptr);
}

class DirectInput final : public platform::com::ComObject<IDirectInput8A> {
public:
    DirectInput() { startControllers(); }

    HRESULT QueryInterface(REFIID riid, void** object) override { return Answer(riid, IID_IDirectInput8A, object); }

    HRESULT EnumDevicesBySemantics(LPCSTR userName, LPDIACTIONFORMATA format, LPDIENUMDEVICESBYSEMANTICSCBA callback,
                                   LPVOID reference, DWORD flags) override {
        (void)userName;
        (void)flags;
        if (!validFormat(format) || !callback)
            return DIERR_INVALIDPARAM;
        std::vector<Device*> devices = attachedDevices();
        bool stopped = false;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Device* device = devices[i];
            if (!stopped) {
                bool mapped = false;
                for (const ActionBinding& b : device->bindingsFor(*format, readStoredMapping(*format, device->storeKey())))
                    mapped = mapped || b.object != 0;
                const DWORD found = mapped ? DIEDBS_MAPPEDPRI1 : 0;
                const DWORD remaining = static_cast<DWORD>(devices.size() - i - 1);
                stopped = callback(&device->instance(), device, found, remaining, reference) == DIENUM_STOP;
            }
            // The callback borrowed the device; it keeps it only by AddRef.
            device->Release();
        }
        return DI_OK;
    }

    HRESULT ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK callback, LPDICONFIGUREDEVICESPARAMSA params, DWORD flags,
                             LPVOID reference) override {
        (void)callback;
        (void)reference;
        if (!params || params->dwSize != sizeof(DICONFIGUREDEVICESPARAMSA) || params->dwcFormats < 1 ||
            !validFormat(params->lprgFormats) || (flags & ~DWORD{DICD_EDIT}))
            return DIERR_INVALIDPARAM;
        if (!platform::guiAvailable()) {
            static bool reported = false;
            if (!reported) {
                reported = true;
                std::fprintf(stderr, "input: the input configuration needs a display\n");
            }
            return DIERR_UNSUPPORTED;
        }
        std::vector<Device*> devices = attachedDevices();
        const HRESULT hr = runConfiguration(params->hwnd, params->lprgFormats, devices, (flags & DICD_EDIT) != 0);
        for (Device* device : devices)
            device->Release();
        return hr;
    }

private:
    ~DirectInput() { stopControllers(); }

    // The keyboard first, then the controllers in the order SDL numbers them.
    static std::vector<Device*> attachedDevices() {
        std::vector<Device*> devices;
        devices.push_back(createKeyboard());
        for (Device* controller : createControllers())
            devices.push_back(controller);
        return devices;
    }
};

}  // namespace

}  // namespace platform::dinput8

HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer) {
    if (!out)
        return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (!instance)
        return DIERR_INVALIDPARAM;
    if (version < DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION)
        return DIERR_BETADIRECTINPUTVERSION;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (iid != IID_IDirectInput8A)
        return DIERR_NOINTERFACE;
    *out = static_cast<IDirectInput8A*>(new platform::dinput8::DirectInput());
    return DI_OK;
}

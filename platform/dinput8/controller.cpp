#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/dinput8/dinput_internal.h"

namespace platform::dinput8 {

namespace {

const char* const kAxisNames[SDL_CONTROLLER_AXIS_MAX] = {
    "Left stick X", "Left stick Y", "Right stick X", "Right stick Y", "Left trigger", "Right trigger",
};
const char* const kButtonNames[SDL_CONTROLLER_BUTTON_MAX] = {
    "South button",   "East button",     "West button",     "North button",    "Back",
    "Guide",          "Start",           "Left stick",      "Right stick",     "Left shoulder",
    "Right shoulder", "D-pad up",        "D-pad down",      "D-pad left",      "D-pad right",
    "Misc",           "Paddle 1",        "Paddle 2",        "Paddle 3",        "Paddle 4",
    "Touchpad",
};

class Controller;

struct Hub {
    int users = 0;
    bool running = false;
    bool reportedFailure = false;
    bool failStart = false;
    std::vector<Controller*> devices;
    std::function<void(const ControllerChange&)> observer;
};

Hub& hub() {
    static Hub instance;
    return instance;
}

class Controller final : public Device {
public:
    Controller(const DIDEVICEINSTANCEA& instance, SDL_GameController* controller, SDL_JoystickID id,
               std::string productKey)
        : Device(instance), controller_(controller), id_(id), productKey_(std::move(productKey)) {
        hub().devices.push_back(this);
    }

    SDL_JoystickID id() const { return id_; }

    bool hasObject(DWORD object) const override {
        if (!controller_)
            return false;
        const int n = DIDFT_GETINSTANCE(object);
        if (DIDFT_GETTYPE(object) == DIDFT_ABSAXIS)
            return n < SDL_CONTROLLER_AXIS_MAX &&
                   SDL_GameControllerHasAxis(controller_, static_cast<SDL_GameControllerAxis>(n));
        if (DIDFT_GETTYPE(object) == DIDFT_PSHBUTTON)
            return n < SDL_CONTROLLER_BUTTON_MAX &&
                   SDL_GameControllerHasButton(controller_, static_cast<SDL_GameControllerButton>(n));
        return false;
    }
    // The standard layout: the lateral axis on the left stick's x, the move
    // axis on its y, the special button on the south face button.
    DWORD defaultObject(DWORD semantic) const override {
        DWORD object = 0;
        switch (semantic) {
        case DIAXIS_3DCONTROL_LATERAL: object = axisObject(SDL_CONTROLLER_AXIS_LEFTX); break;
        case DIAXIS_3DCONTROL_MOVE: object = axisObject(SDL_CONTROLLER_AXIS_LEFTY); break;
        case DIBUTTON_3DCONTROL_SPECIAL: object = buttonObject(SDL_CONTROLLER_BUTTON_A); break;
        default: break;
        }
        return hasObject(object) ? object : 0;
    }
    std::string objectName(DWORD object) const override {
        if (!hasObject(object))
            return std::string();
        const int n = DIDFT_GETINSTANCE(object);
        return DIDFT_GETTYPE(object) == DIDFT_ABSAXIS ? kAxisNames[n] : kButtonNames[n];
    }
    std::string storeKey() const override { return "Controller " + productKey_; }
    bool unplugged() const override { return gone_; }
    bool stillAttached() const { return controller_ && SDL_GameControllerGetAttached(controller_); }

    void detach() {
        if (gone_)
            return;
        gone_ = true;
        loseAcquisition();
        if (controller_ && hub().running)
            SDL_GameControllerClose(controller_);
        controller_ = nullptr;
    }

    void axis(int axis, int position) {
        if (!followWindow())
            return;
        axisChanged(axisObject(axis), position);
    }
    void button(int button, bool down) {
        if (!followWindow())
            return;
        buttonChanged(buttonObject(button), down);
    }
    // Foreground devices stop at once when their window goes to the background.
    bool followWindow() {
        if (acquired() && foregroundOnly() && !windowActive())
            loseAcquisition();
        return acquired();
    }

protected:
    ~Controller() override {
        detach();
        auto& devices = hub().devices;
        devices.erase(std::remove(devices.begin(), devices.end(), this), devices.end());
    }
    void pump() override {
        pumpControllers();
        followWindow();
    }
    bool polled() const override { return true; }

private:
    SDL_GameController* controller_;
    SDL_JoystickID id_;
    std::string productKey_;
    bool gone_ = false;
};

void forEachDevice(SDL_JoystickID id, const std::function<void(Controller*)>& action) {
    // Copy: a device may be released from inside an observer.
    const std::vector<Controller*> devices = hub().devices;
    for (Controller* device : devices) {
        if (device->id() == id)
            action(device);
    }
}

void observe(SDL_JoystickID id, DWORD object, int position) {
    if (!hub().observer)
        return;
    GUID guid{};
    guid.Data1 = static_cast<DWORD>(id);
    forEachDevice(id, [&](Controller* device) { guid = device->instance().guidInstance; });
    hub().observer(ControllerChange{guidText(guid), object, position});
}

}  // namespace

std::string guidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool startControllers() {
    Hub& h = hub();
    if (h.users++ > 0)
        return h.running;
    // The program has no use for SDL turning Ctrl+C into an event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Whether the window is in front is this layer's decision, not SDL's.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    h.running = !h.failStart && SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    if (!h.running && !h.reportedFailure) {
        // The keyboard still works; the maintainer learns why pads do not.
        h.reportedFailure = true;
        std::fprintf(stderr, "input: game controllers unavailable: %s\n", SDL_GetError());
    }
    return h.running;
}

void stopControllers() {
    Hub& h = hub();
    if (h.users == 0 || --h.users > 0)
        return;
    if (!h.running)
        return;
    const std::vector<Controller*> devices = h.devices;
    for (Controller* device : devices)
        device->detach();
    h.running = false;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

std::vector<Device*> createControllers() {
    std::vector<Device*> created;
    if (!hub().running)
        return created;
    pumpControllers();
    const int count = SDL_NumJoysticks();
    for (int index = 0; index < count; ++index) {
        // Controllers without a standard layout are not offered: their axes
        // and buttons would be guesses.
        if (!SDL_IsGameController(index))
            continue;
        SDL_GameController* controller = SDL_GameControllerOpen(index);
        if (!controller)
            continue;
        const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(index);
        const SDL_JoystickGUID product = SDL_JoystickGetDeviceGUID(index);
        char productText[33];
        SDL_JoystickGetGUIDString(product, productText, sizeof(productText));

        DIDEVICEINSTANCEA instance{};
        instance.dwSize = sizeof(instance);
        instance.guidInstance = GUID{static_cast<DWORD>(id), 0x5344, 0x4C32, {'G', 'a', 'm', 'e', 'p', 'a', 'd', 0}};
        static_assert(sizeof(product.data) == sizeof(GUID));
        std::memcpy(&instance.guidProduct, product.data, sizeof(GUID));
        instance.dwDevType = DI8DEVTYPE_GAMEPAD | (DI8DEVTYPEGAMEPAD_STANDARD << 8);
        const char* name = SDL_GameControllerName(controller);
        std::snprintf(instance.tszInstanceName, sizeof(instance.tszInstanceName), "%s", name ? name : "Game controller");
        std::snprintf(instance.tszProductName, sizeof(instance.tszProductName), "%s", name ? name : "Game controller");
        created.push_back(new Controller(instance, controller, id, productText));
    }
    return created;
}

void pumpControllers() {
    if (!hub().running)
        return;
    SDL_PumpEvents();
    SDL_Event events[32];
    for (;;) {
        const int n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_CONTROLLERAXISMOTION, SDL_CONTROLLERDEVICEREMAPPED);
        if (n <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            const SDL_Event& e = events[i];
            switch (e.type) {
            case SDL_CONTROLLERAXISMOTION:
                forEachDevice(e.caxis.which, [&](Controller* d) { d->axis(e.caxis.axis, e.caxis.value); });
                observe(e.caxis.which, axisObject(e.caxis.axis), e.caxis.value);
                break;
            case SDL_CONTROLLERBUTTONDOWN:
            case SDL_CONTROLLERBUTTONUP: {
                const bool down = e.type == SDL_CONTROLLERBUTTONDOWN;
                forEachDevice(e.cbutton.which, [&](Controller* d) { d->button(e.cbutton.button, down); });
                observe(e.cbutton.which, buttonObject(e.cbutton.button), down ? 1 : 0);
                break;
            }
            case SDL_CONTROLLERDEVICEREMOVED:
                forEachDevice(e.cdevice.which, [](Controller* d) { d->detach(); });
                break;
            default:
                break;
            }
        }
    }
    // The joystick events behind the controller events have no reader.
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_JOYBATTERYUPDATED);
    const std::vector<Controller*> devices = hub().devices;
    for (Controller* device : devices) {
        if (!device->unplugged() && !device->stillAttached())
            device->detach();
    }
}

void failControllerStartForTesting(bool fail) { hub().failStart = fail; }

void setControllerObserver(std::function<void(const ControllerChange&)> observer) {
    hub().observer = std::move(observer);
}

}  // namespace platform::dinput8

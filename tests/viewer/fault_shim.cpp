// Faults for the real program, preloaded into it by the fault tests
// (LD_PRELOAD) and chosen by VL_FAULT; the program itself is unchanged and
// uses its real layer. Each fault stands in for what the platform does when
// the thing goes away:
//   gl-loss            every 2 s the OpenGL context in use stops being valid,
//                      as after a GPU reset (a context made afterwards is good)
//   sound-loss         after VL_FAULT_AFTER ms the audio device reports that
//                      it has stopped, as SDL does when it is unplugged
//   controller-unplug  a game controller (an SDL virtual one) is plugged in
//                      with its left stick pushed fully to one side and is
//                      unplugged after VL_FAULT_AFTER ms, stick still pushed
#include <QOpenGLContext>
#include <SDL.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

bool fault(const char* name) {
    const char* chosen = std::getenv("VL_FAULT");
    return chosen && std::strcmp(chosen, name) == 0;
}

std::chrono::milliseconds after() {
    const char* text = std::getenv("VL_FAULT_AFTER");
    return std::chrono::milliseconds(text ? std::atoi(text) : 3000);
}

template <class Function>
Function real(const char* symbol) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

// ---- gl-loss
std::set<const QOpenGLContext*> lostContexts;
Clock::time_point lastLoss = Clock::now();

// ---- controller-unplug
SDL_Joystick* pad = nullptr;
Clock::time_point plugged;
bool unplugged = false;

}  // namespace

bool QOpenGLContext::isValid() const {
    static auto original = real<bool (*)(const QOpenGLContext*)>("_ZNK14QOpenGLContext7isValidEv");
    if (!fault("gl-loss"))
        return original(this);
    if (lostContexts.count(this))
        return false;
    if (Clock::now() - lastLoss >= std::chrono::seconds(2) && original(this)) {
        lastLoss = Clock::now();
        lostContexts.insert(this);
        return false;
    }
    return original(this);
}

// A context made at the address of one that was lost is a new one.
bool QOpenGLContext::create() {
    static auto original = real<bool (*)(QOpenGLContext*)>("_ZN14QOpenGLContext6createEv");
    lostContexts.erase(this);
    return original(this);
}

extern "C" SDL_AudioStatus SDL_GetAudioDeviceStatus(SDL_AudioDeviceID device) {
    static auto original = real<SDL_AudioStatus (*)(SDL_AudioDeviceID)>("SDL_GetAudioDeviceStatus");
    static const Clock::time_point start = Clock::now();
    if (fault("sound-loss") && Clock::now() - start >= after())
        return SDL_AUDIO_STOPPED;
    return original(device);
}

// The program counts the controllers once at its start; the pad is there by
// then, its stick already pushed.
extern "C" int SDL_NumJoysticks(void) {
    static auto original = real<int (*)(void)>("SDL_NumJoysticks");
    if (fault("controller-unplug") && !pad && !unplugged) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.name = "Fault pad";
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        if (index >= 0 && (pad = SDL_JoystickOpen(index)) != nullptr) {
            SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, SDL_JOYSTICK_AXIS_MAX);
            plugged = Clock::now();
        }
    }
    return original();
}

extern "C" void SDL_PumpEvents(void) {
    static auto original = real<void (*)(void)>("SDL_PumpEvents");
    static auto count = real<int (*)(void)>("SDL_NumJoysticks");
    if (pad && Clock::now() - plugged >= after()) {
        const SDL_JoystickID id = SDL_JoystickInstanceID(pad);
        SDL_JoystickClose(pad);
        pad = nullptr;
        unplugged = true;
        for (int i = 0; i < count(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id)
                SDL_JoystickDetachVirtual(i);
    }
    original();
}

#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/dinput8/dinput_internal.h"
#include "platform/win32/window_access.h"

namespace platform::dinput8 {

namespace {

DWORD milliseconds() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One sequence for every device of the process, so that events of different
// devices can be put back in order.
DWORD nextSequence() {
    static DWORD sequence = 0;
    return ++sequence;
}

bool validFormat(const DIACTIONFORMATA* format) {
    return format && format->dwSize == sizeof(DIACTIONFORMATA) && format->dwActionSize == sizeof(DIACTIONA) &&
           (format->dwNumActions == 0 || format->rgoAction != nullptr);
}

}  // namespace

Device::Device(const DIDEVICEINSTANCEA& instance) : instance_(instance) {}

Device::~Device() = default;

HRESULT Device::QueryInterface(REFIID riid, void** object) { return Answer(riid, IID_IDirectInputDevice8A, object); }

bool Device::windowActive() const {
    QWidget* widget = platform::topLevelWidgetFor(window_);
    return widget && widget->isActiveWindow();
}

HRESULT Device::Acquire() {
    if (unplugged())
        return DIERR_INPUTLOST;
    if (acquired_)
        return DI_NOEFFECT;
    if (foregroundOnly() && !windowActive())
        return DIERR_OTHERAPPHASPRIO;
    acquired_ = true;
    onAcquired(true);
    return DI_OK;
}

HRESULT Device::Unacquire() {
    if (!acquired_)
        return DI_NOEFFECT;
    loseAcquisition();
    return DI_OK;
}

void Device::loseAcquisition() {
    if (!acquired_)
        return;
    acquired_ = false;
    buffer_.clear();
    overflowed_ = false;
    onAcquired(false);
}

HRESULT Device::SetProperty(REFGUID property, LPCDIPROPHEADER header) {
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER))
        return DIERR_INVALIDPARAM;
    if (property == DIPROP_DEADZONE) {
        if (header->dwSize != sizeof(DIPROPDWORD))
            return DIERR_INVALIDPARAM;
        const DWORD zone = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        if (zone > 10000)
            return DIERR_INVALIDPARAM;
        if (header->dwHow == DIPH_DEVICE) {
            if (header->dwObj != 0)
                return DIERR_INVALIDPARAM;
            deadZone_ = zone;
            objectDeadZones_.clear();
            // A device without axes has nothing the zone could apply to.
            for (int axis = 0; axis < 8; ++axis) {
                if (hasObject(axisObject(axis)))
                    return DI_OK;
            }
            return DIERR_UNSUPPORTED;
        }
        if (header->dwHow == DIPH_BYID) {
            if (!isAxisObject(header->dwObj) || !hasObject(header->dwObj))
                return DIERR_OBJECTNOTFOUND;
            objectDeadZones_[header->dwObj] = zone;
            return DI_OK;
        }
        return DIERR_UNSUPPORTED;
    }
    if (property == DIPROP_BUFFERSIZE) {
        if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE)
            return DIERR_INVALIDPARAM;
        if (acquired_)
            return DIERR_ACQUIRED;
        bufferSize_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        buffer_.reserve(bufferSize_);
        return DI_OK;
    }
    return DIERR_UNSUPPORTED;
}

HRESULT Device::GetDeviceData(DWORD objectDataSize, LPDIDEVICEOBJECTDATA data, LPDWORD inOut, DWORD flags) {
    if (!inOut || objectDataSize != sizeof(DIDEVICEOBJECTDATA) || (flags & ~DWORD{DIGDD_PEEK}) != 0)
        return DIERR_INVALIDPARAM;
    pump();
    if (unplugged()) {
        *inOut = 0;
        return DIERR_INPUTLOST;
    }
    if (!acquired_) {
        *inOut = 0;
        return DIERR_NOTACQUIRED;
    }
    if (bufferSize_ == 0) {
        *inOut = 0;
        return DIERR_NOTBUFFERED;
    }
    const std::size_t taken = std::min<std::size_t>(*inOut, buffer_.size());
    if (data)
        std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(taken), data);
    *inOut = static_cast<DWORD>(taken);
    const bool overflowed = overflowed_;
    if (!(flags & DIGDD_PEEK)) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(taken));
        overflowed_ = false;
    }
    return overflowed ? DI_BUFFEROVERFLOW : DI_OK;
}

HRESULT Device::SetCooperativeLevel(HWND window, DWORD flags) {
    const DWORD sharing = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
    const DWORD ground = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
    if ((sharing != DISCL_EXCLUSIVE && sharing != DISCL_NONEXCLUSIVE) ||
        (ground != DISCL_FOREGROUND && ground != DISCL_BACKGROUND) ||
        (flags & ~DWORD{DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND | DISCL_NOWINKEY}))
        return DIERR_INVALIDPARAM;
    if (sharing == DISCL_EXCLUSIVE && ground == DISCL_BACKGROUND)
        return DIERR_UNSUPPORTED;
    if (acquired_)
        return DIERR_ACQUIRED;
    // A foreground device follows its window, so it needs a real one.
    if (ground == DISCL_FOREGROUND && !platform::topLevelWidgetFor(window))
        return E_HANDLE;
    window_ = window;
    cooperation_ = flags;
    return DI_OK;
}

HRESULT Device::Poll() {
    if (unplugged())
        return DIERR_INPUTLOST;
    if (!acquired_)
        return DIERR_NOTACQUIRED;
    pump();
    if (unplugged())
        return DIERR_INPUTLOST;
    return polled() ? DI_OK : DI_NOEFFECT;
}

std::vector<ActionBinding> Device::defaultBindingsFor(const DIACTIONFORMATA& format) const {
    return bindingsFor(format, StoredMapping());
}

std::vector<ActionBinding> Device::bindingsFor(const DIACTIONFORMATA& format, const StoredMapping& stored) const {
    const DWORD count = format.dwNumActions;
    std::vector<ActionBinding> bindings(count);
    std::vector<DWORD> used;
    auto take = [&](DWORD index, DWORD object, DWORD how) {
        bindings[index] = ActionBinding{object, how};
        if (object)
            used.push_back(object);
    };
    auto free = [&](DWORD object) { return object && std::find(used.begin(), used.end(), object) == used.end(); };
    auto fits = [&](const DIACTIONA& action, DWORD object) {
        return hasObject(object) && (isAxisSemantic(action.dwSemantic) ? isAxisObject(object) : isButtonObject(object));
    };
    std::vector<bool> settled(count, false);
    for (DWORD i = 0; i < count; ++i) {
        const DIACTIONA& action = format.rgoAction[i];
        if (action.dwFlags & DIA_APPNOMAP) {
            settled[i] = true;
        } else if (action.dwFlags & DIA_APPFIXED) {
            const DWORD object = defaultObject(action.dwSemantic);
            if (free(object) && fits(action, object))
                take(i, object, DIAH_DEFAULT);
            settled[i] = true;
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        if (settled[i])
            continue;
        const auto choice = stored.find(i);
        if (choice == stored.end())
            continue;
        // A stored choice naming a control this device lacks, one of the wrong
        // kind or one a fixed action holds is ignored; the default stays.
        if (choice->second == 0) {
            take(i, 0, DIAH_USERCONFIG);
            settled[i] = true;
        } else if (free(choice->second) && fits(format.rgoAction[i], choice->second)) {
            take(i, choice->second, DIAH_USERCONFIG);
            settled[i] = true;
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        if (settled[i])
            continue;
        const DWORD object = defaultObject(format.rgoAction[i].dwSemantic);
        if (free(object) && fits(format.rgoAction[i], object))
            take(i, object, DIAH_DEFAULT);
    }
    return bindings;
}

HRESULT Device::BuildActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) {
    (void)userName;
    (void)flags;
    if (!validFormat(format))
        return DIERR_INVALIDPARAM;
    const std::vector<ActionBinding> bindings = bindingsFor(*format, readStoredMapping(*format, storeKey()));
    bool any = false;
    for (DWORD i = 0; i < format->dwNumActions; ++i) {
        DIACTIONA& action = format->rgoAction[i];
        if (bindings[i].object) {
            action.guidInstance = instance_.guidInstance;
            action.dwObjID = bindings[i].object;
            action.dwHow = bindings[i].how;
            any = true;
        } else if (action.guidInstance == instance_.guidInstance) {
            action.guidInstance = GUID_NULL;
            action.dwObjID = 0;
            action.dwHow = DIAH_UNMAPPED;
        }
    }
    return any ? DI_OK : DI_NOEFFECT;
}

HRESULT Device::SetActionMap(LPDIACTIONFORMATA format, LPCSTR userName, DWORD flags) {
    (void)userName;
    (void)flags;
    if (!validFormat(format) || format->lAxisMin >= format->lAxisMax)
        return DIERR_INVALIDPARAM;
    if (acquired_)
        return DIERR_ACQUIRED;
    bound_.clear();
    lastAxisData_.clear();
    for (DWORD i = 0; i < format->dwNumActions; ++i) {
        const DIACTIONA& action = format->rgoAction[i];
        if (action.guidInstance != instance_.guidInstance || action.dwHow == DIAH_UNMAPPED ||
            (action.dwHow & DIAH_ERROR) || !hasObject(action.dwObjID))
            continue;
        bound_[action.dwObjID] = Bound{i, action.uAppData};
    }
    bufferSize_ = format->dwBufferSize;
    buffer_.clear();
    buffer_.reserve(bufferSize_);
    overflowed_ = false;
    axisMin_ = format->lAxisMin;
    axisMax_ = format->lAxisMax;
    return DI_OK;
}

void Device::queue(DWORD actionIndex, UINT_PTR appData, DWORD data) {
    if (!acquired_)
        return;
    // A full buffer keeps what it has; the reader learns of the loss.
    if (buffer_.size() >= bufferSize_) {
        overflowed_ = true;
        return;
    }
    DIDEVICEOBJECTDATA event{};
    event.dwOfs = actionIndex * sizeof(DWORD);
    event.dwData = data;
    event.dwTimeStamp = milliseconds();
    event.dwSequence = nextSequence();
    event.uAppData = appData;
    buffer_.push_back(event);
}

void Device::buttonChanged(DWORD object, bool down) {
    const auto it = bound_.find(object);
    if (it == bound_.end())
        return;
    queue(it->second.actionIndex, it->second.appData, down ? 0x80 : 0);
}

LONG Device::scaledAxis(DWORD object, int position) const {
    const auto own = objectDeadZones_.find(object);
    const double zone = (own != objectDeadZones_.end() ? own->second : deadZone_) / 10000.0;
    double t = position < 0 ? position / 32768.0 : position / 32767.0;
    const double magnitude = std::fabs(t);
    if (magnitude <= zone)
        t = 0.0;
    else
        t = (t < 0 ? -1.0 : 1.0) * std::min(1.0, (magnitude - zone) / (1.0 - zone));
    const double centre = (static_cast<double>(axisMin_) + static_cast<double>(axisMax_)) / 2.0;
    const double half = (static_cast<double>(axisMax_) - static_cast<double>(axisMin_)) / 2.0;
    return static_cast<LONG>(std::lround(centre + t * half));
}

void Device::axisChanged(DWORD object, int position) {
    const auto it = bound_.find(object);
    if (it == bound_.end() || !acquired_)
        return;
    const LONG data = scaledAxis(object, position);
    // Movement the dead zone or the range swallows is no event.
    const auto last = lastAxisData_.find(object);
    if (last != lastAxisData_.end() && last->second == data)
        return;
    lastAxisData_[object] = data;
    queue(it->second.actionIndex, it->second.appData, static_cast<DWORD>(data));
}

}  // namespace platform::dinput8

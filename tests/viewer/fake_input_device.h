// A scripted input device at the platform boundary: each frame's buffered
// events are queued by the test, and every call the mapper makes is counted.
#pragma once

#include <deque>
#include <vector>

#include "platform/dinput8/dinput.h"

namespace inputtest {

struct FakeInputDevice final : IDirectInputDevice8A {
    ULONG references = 1;
    std::deque<DIDEVICEOBJECTDATA> buffered;
    HRESULT cooperativeResult = DI_OK;
    HRESULT buildResult = DI_OK;
    HRESULT setResult = DI_OK;
    bool failReads = false;
    HRESULT readFailure = DIERR_NOTACQUIRED;  // what a failing read answers
    int acquires = 0;
    int unacquires = 0;
    int polls = 0;
    int builds = 0;
    int sets = 0;
    DWORD cooperativeFlags = 0;
    DWORD deadZone = 0;
    DWORD deadZoneHow = 0xFFFFFFFF;
    std::vector<int>* callLog = nullptr;  // shared log of build calls, by id
    int id = 0;

    void press(UINT_PTR action, DWORD data) {
        DIDEVICEOBJECTDATA event{};
        event.dwData = data;
        event.uAppData = action;
        buffered.push_back(event);
    }

    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }  // owned by the test
    HRESULT Acquire() override {
        ++acquires;
        return DI_OK;
    }
    HRESULT Unacquire() override {
        ++unacquires;
        return DI_OK;
    }
    HRESULT SetProperty(REFGUID property, LPCDIPROPHEADER header) override {
        if (property == DIPROP_DEADZONE && header->dwSize == sizeof(DIPROPDWORD) &&
            header->dwHeaderSize == sizeof(DIPROPHEADER) && header->dwObj == 0) {
            deadZone = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
            deadZoneHow = header->dwHow;
        }
        return DI_OK;
    }
    HRESULT GetDeviceData(DWORD size, LPDIDEVICEOBJECTDATA data, LPDWORD inOut, DWORD) override {
        if (failReads || size != sizeof(DIDEVICEOBJECTDATA)) {
            *inOut = 0;
            return failReads ? readFailure : DIERR_NOTACQUIRED;
        }
        DWORD n = 0;
        while (n < *inOut && !buffered.empty()) {
            data[n++] = buffered.front();
            buffered.pop_front();
        }
        *inOut = n;
        return DI_OK;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD flags) override {
        cooperativeFlags = flags;
        return cooperativeResult;
    }
    HRESULT Poll() override {
        ++polls;
        return DI_NOEFFECT;
    }
    HRESULT BuildActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override {
        ++builds;
        if (callLog)
            callLog->push_back(id);
        return buildResult;
    }
    HRESULT SetActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override {
        ++sets;
        return setResult;
    }
};

}  // namespace inputtest

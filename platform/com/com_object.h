// Reference counting and the interface answer shared by the COM objects of
// the input and sound layers: an object starts with one reference, goes when
// the last is released, and answers for its own interface and IUnknown.
#pragma once

#include "platform/win32/wintypes.h"

namespace platform::com {

template <class Interface>
class ComObject : public Interface {
public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    HRESULT Answer(REFIID riid, const IID& own, void** object) {
        if (!object)
            return E_POINTER;
        if (riid == own || riid == IID_IUnknown) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    ULONG references_ = 1;
};

}  // namespace platform::com

#pragma once
// COM interfaces have no virtual destructor by design (objects delete themselves in Release), so
// classes implementing them are bracketed to keep -Wnon-virtual-dtor quiet for them alone.

#define VELMORA_COM_CLASSES_BEGIN                                                                            \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define VELMORA_COM_CLASSES_END _Pragma("GCC diagnostic pop")

#include <oaidl.h>

#include <atomic>

namespace Velmora::UI {

VELMORA_COM_CLASSES_BEGIN

// Reference counting, QueryInterface and the type-information stubs of an object that script
// sees through IDispatch alone; subclasses supply GetIDsOfNames and Invoke. Created with one
// reference, which the creator owns.
class DispatchObject : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }

protected:
    DispatchObject() = default;
    virtual ~DispatchObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

VELMORA_COM_CLASSES_END

} // namespace Velmora::UI

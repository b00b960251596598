#include "ui/external_win.h"

#include "common/com_ptr_win.h"
#include "ui/async_call_queue_win.h"
#include "ui/com_class_win.h"

#include <objbase.h>

#include <atomic>
#include <cwchar>
#include <new>

namespace Velmora::UI {
namespace {

struct MethodName {
    const wchar_t* name;
    DISPID id;
};

constexpr MethodName kMethods[] = {
    {L"getCom", kDispGetCom},
    {L"callc", kDispCallc},
    {L"asyncallc", kDispAsyncallc},
    {L"asyncalld", kDispAsyncalld},
};

// Script order argument `index` (0 = first), or an empty value when the page passed fewer.
const VARIANT& Arg(const DISPPARAMS* params, UINT index)
{
    static const VARIANT empty = [] {
        VARIANT v;
        ::VariantInit(&v);
        return v;
    }();
    if (!params || !params->rgvarg)
        return empty;
    // Named arguments sit at the front of the array; positional ones follow in reverse order.
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (index >= positional)
        return empty;
    return params->rgvarg[params->cArgs - 1 - index];
}

HRESULT CreateComObject(const VARIANT& id, VARIANT* result)
{
    ScopedVariant text(id);
    if (!IsString(text.Get()) || StringOf(text.Get()).empty())
        return S_OK;
    CLSID clsid;
    const wchar_t* s = text.Get().bstrVal;
    const HRESULT hr =
        s[0] == L'{' ? ::CLSIDFromString(const_cast<LPOLESTR>(s), &clsid) : ::CLSIDFromProgID(s, &clsid);
    if (FAILED(hr))
        return S_OK;
    ComPtr<IDispatch> object;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, object.ReceiveVoid())) ||
        !object)
        return S_OK;
    if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = object.Detach();
    }
    return S_OK;
}

VELMORA_COM_CLASSES_BEGIN
class CExternal final : public DispatchObject {
public:
    explicit CExternal(ExternalTarget target) : target_(std::move(target)) {}

    // IDispatch
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            // Only the method name itself (i == 0) can be known; this object has no named parameters.
            for (const auto& m : kMethods)
                if (i == 0 && names[i] && std::wcscmp(names[i], m.name) == 0)
                    ids[i] = m.id;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (result)
            ::VariantInit(result);
        if (id < kDispGetCom || id > kDispAsyncalld)
            return DISP_E_MEMBERNOTFOUND;
        if (target_.allowed && !target_.allowed())
            return E_ACCESSDENIED;
        try {
            switch (id) {
            case kDispGetCom:
                return CreateComObject(Arg(params, 0), result);
            case kDispCallc:
                return Callc(params, result);
            default:
                return Async(params, id == kDispAsyncallc);
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    ~CExternal() override = default;

    HRESULT Callc(DISPPARAMS* params, VARIANT* result)
    {
        if (!target_.handler)
            return S_OK;
        ScopedVariant name(Arg(params, 0)), a1(Arg(params, 1)), a2(Arg(params, 2)), a3(Arg(params, 3)),
            a4(Arg(params, 4));
        ScopedVariant answer;
        target_.handler(target_.dialog, name.Get(), a1.Get(), a2.Get(), a3.Get(), a4.Get(), answer.Ptr());
        if (result)
            answer.MoveTo(result);
        return S_OK;
    }

    HRESULT Async(DISPPARAMS* params, bool queued)
    {
        // Without a shared worker view the caller keeps the dialog alive for the workers.
        std::shared_ptr<IBSDialog> dialog =
            target_.workerDialog ? target_.workerDialog
                                 : std::shared_ptr<IBSDialog>(target_.dialog, [](IBSDialog*) {});
        auto* item = new ExternalAsyncThread(std::move(dialog), target_.handler, target_.bridge,
                                             Arg(params, 0), Arg(params, 1), Arg(params, 2), Arg(params, 3),
                                             Arg(params, 4), Arg(params, 5), queued);
        Dispatch(item);
        return S_OK;
    }

    ExternalTarget target_;
};
VELMORA_COM_CLASSES_END

} // namespace

HRESULT CreateExternal(ExternalTarget target, IDispatch** out)
{
    if (!out)
        return E_POINTER;
    *out = new (std::nothrow) CExternal(std::move(target));
    return *out ? S_OK : E_OUTOFMEMORY;
}

ExternalAsyncThread::ExternalAsyncThread(std::shared_ptr<IBSDialog> dialog, CommandHandler handler,
                                         std::shared_ptr<ScriptBridge> bridge, const VARIANT& callback,
                                         const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                                         const VARIANT& a3, const VARIANT& a4, bool queuedItem)
    : dialog_(std::move(dialog)), handler_(std::move(handler)), bridge_(std::move(bridge)), name_(name),
      a1_(a1), a2_(a2), a3_(a3), a4_(a4)
{
    queued = queuedItem;
    ScopedVariant cb(callback);
    if (IsObject(cb.Get())) {
        callback_ = cb.Get().pdispVal;
        callback_->AddRef();
    }
}

ExternalAsyncThread::~ExternalAsyncThread()
{
    if (!callback_)
        return;
    if (bridge_)
        bridge_->ReleaseOnUiThread(callback_);
    else
        callback_->Release();
}

void ExternalAsyncThread::Run()
{
    ScopedVariant answer;
    if (handler_)
        handler_(dialog_.get(), name_.Get(), a1_.Get(), a2_.Get(), a3_.Get(), a4_.Get(), answer.Ptr());
    if (!callback_ || !bridge_)
        return;
    // call(this = the callback, result): in automation order the last parameter comes first.
    VARIANT args[2];
    args[0] = answer.Get();
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = callback_;
    bridge_->CallScriptCallback(callback_, args, 2);
}

} // namespace Velmora::UI

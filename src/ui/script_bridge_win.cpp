#include "ui/script_bridge_win.h"

#include <dispex.h>

namespace Velmora::UI {
namespace {

// Look-ups in the system default locale, invocations in the user default locale.
constexpr LCID kLookupLocale = 0x800;
constexpr LCID kInvokeLocale = 0x400;

HRESULT LookUp(IDispatch* object, const wchar_t* name, DISPID* id)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object->GetIDsOfNames(IID_NULL, names, 1, kLookupLocale, id);
}

} // namespace

HRESULT ScriptSite::CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result)
{
    if (!script_)
        return E_POINTER;
    if (!function)
        return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = LookUp(script_.Get(), function, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {args, nullptr, count, 0};
    return script_->Invoke(id, IID_NULL, kInvokeLocale, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

HRESULT ScriptSite::CallScriptCallback(IDispatch* function, VARIANT* args, UINT count)
{
    if (!script_)
        return E_POINTER;
    if (!function)
        return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = LookUp(function, L"call", &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {args, nullptr, count, 0};
    return function->Invoke(id, IID_NULL, kInvokeLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

HRESULT ScriptSite::SetScriptVariable(const wchar_t* name, const VARIANT& value)
{
    if (!script_)
        return E_POINTER;
    if (!name)
        return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = LookUp(script_.Get(), name, &id);
    if (FAILED(hr))
        return hr;
    VARIANT arg = value;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &put, 1, 1};
    return script_->Invoke(id, IID_NULL, kInvokeLocale, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                           nullptr);
}

HRESULT ScriptSite::GetScriptVariable(const wchar_t* name, VARIANT* result)
{
    if (!script_)
        return E_POINTER;
    if (!name || !result)
        return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = LookUp(script_.Get(), name, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    return script_->Invoke(id, IID_NULL, kInvokeLocale, DISPATCH_PROPERTYGET, &params, result, nullptr,
                           nullptr);
}

HRESULT ScriptSite::ExecScript(const wchar_t* script)
{
    if (!script_)
        return E_POINTER;
    if (!script)
        return E_INVALIDARG;
    // The page's window offers execScript(code, language) through its dispatch interface.
    VARIANT args[2];
    args[0].vt = VT_BSTR;
    args[0].bstrVal = ::SysAllocString(L"javascript");
    args[1].vt = VT_BSTR;
    args[1].bstrVal = ::SysAllocString(script);
    VARIANT ignored;
    ::VariantInit(&ignored);
    HRESULT hr = CallScript(L"execScript", args, 2, &ignored);
    ::VariantClear(&ignored);
    ::VariantClear(&args[0]);
    ::VariantClear(&args[1]);
    return hr;
}

HRESULT ScriptSite::CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                                       const ScriptObjectFiller& filler)
{
    if (!script_)
        return E_POINTER;
    if (!constructor || !object)
        return E_INVALIDARG;
    *object = nullptr;
    VARIANT value;
    ::VariantInit(&value);
    HRESULT hr = GetScriptVariable(constructor, &value);
    if (FAILED(hr))
        return hr;
    if (value.vt != VT_DISPATCH || !value.pdispVal) {
        ::VariantClear(&value);
        return DISP_E_TYPEMISMATCH;
    }
    ComPtr<IDispatchEx> ctor;
    hr = value.pdispVal->QueryInterface(__uuidof(IDispatchEx), ctor.ReceiveVoid());
    ::VariantClear(&value);
    if (FAILED(hr) || !ctor)
        return E_NOINTERFACE;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    VARIANT made;
    ::VariantInit(&made);
    hr = ctor->InvokeEx(DISPID_VALUE, kInvokeLocale, DISPATCH_CONSTRUCT, &params, &made, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    if (made.vt != VT_DISPATCH || !made.pdispVal) {
        ::VariantClear(&made);
        return DISP_E_TYPEMISMATCH;
    }
    ComPtr<IDispatchEx> instance;
    hr = made.pdispVal->QueryInterface(__uuidof(IDispatchEx), instance.ReceiveVoid());
    ::VariantClear(&made);
    if (FAILED(hr) || !instance)
        return E_NOINTERFACE;
    if (filler)
        filler(instance.Get());
    ComPtr<IDispatch> out;
    hr = instance.As(out);
    if (FAILED(hr))
        return hr;
    *object = out.Detach();
    return S_OK;
}

HWND FindBrowserWindow(HWND dialog)
{
    HWND embedding = dialog ? ::FindWindowExW(dialog, nullptr, L"Shell Embedding", nullptr) : nullptr;
    HWND view = embedding ? ::FindWindowExW(embedding, nullptr, L"Shell DocObject View", nullptr) : nullptr;
    return view ? ::FindWindowExW(view, nullptr, L"Internet Explorer_Server", nullptr) : nullptr;
}

HRESULT ScriptBridge::CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result)
{
    Record r;
    r.name = function;
    r.args = args;
    r.count = count;
    r.result = result;
    return Perform(kOpCallScript, r);
}

HRESULT ScriptBridge::CallScriptCallback(IDispatch* function, VARIANT* args, UINT count)
{
    Record r;
    r.function = function;
    r.args = args;
    r.count = count;
    return Perform(kOpCallScriptCallback, r);
}

HRESULT ScriptBridge::SetScriptVariable(const wchar_t* name, const VARIANT& value)
{
    Record r;
    r.name = name;
    r.value = &value;
    return Perform(kOpSetScriptVariable, r);
}

HRESULT ScriptBridge::GetScriptVariable(const wchar_t* name, VARIANT* result)
{
    Record r;
    r.name = name;
    r.result = result;
    return Perform(kOpGetScriptVariable, r);
}

HRESULT ScriptBridge::ExecScript(const wchar_t* script)
{
    Record r;
    r.name = script;
    return Perform(kOpExecScript, r);
}

HRESULT ScriptBridge::CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                                         const ScriptObjectFiller& filler)
{
    Record r;
    r.name = constructor;
    r.object = object;
    r.filler = &filler;
    return Perform(kOpCreateScriptObject, r);
}

HRESULT ScriptBridge::Perform(int operation, Record& record)
{
    if (::GetCurrentThreadId() == uiThread_)
        return Run(operation, record);
    HWND window = window_.load();
    if (!window)
        return E_FAIL;
    // Blocks until the UI thread has served the call; the record stays on this stack meanwhile.
    return static_cast<HRESULT>(::SendMessageW(window, kMarshalledCallMessage, static_cast<WPARAM>(operation),
                                               reinterpret_cast<LPARAM>(&record)));
}

LRESULT ScriptBridge::OnMarshalledCall(WPARAM operation, LPARAM record)
{
    if (!record || operation < kOpCallScript || operation > kOpCreateScriptObject)
        return E_FAIL;
    return Run(static_cast<int>(operation), *reinterpret_cast<Record*>(record));
}

void ScriptBridge::ReleaseOnUiThread(IUnknown* object)
{
    if (!object)
        return;
    if (::GetCurrentThreadId() == uiThread_) {
        object->Release();
        return;
    }
    HWND window = window_.load();
    if (window && ::SendMessageW(window, kReleaseObjectMessage, 0, reinterpret_cast<LPARAM>(object)) == 1)
        return;
    // The window and its page are gone: the reference is left to the process's end rather than
    // touching the page's object from this thread.
}

LRESULT ScriptBridge::OnReleaseObject(LPARAM object)
{
    if (!object)
        return 0;
    reinterpret_cast<IUnknown*>(object)->Release();
    return 1;
}

HRESULT ScriptBridge::Run(int operation, Record& r)
{
    switch (operation) {
    case kOpCallScript:
        return site_.CallScript(r.name, r.args, r.count, r.result);
    case kOpCallScriptCallback:
        return site_.CallScriptCallback(r.function, r.args, r.count);
    case kOpSetScriptVariable:
        return r.value ? site_.SetScriptVariable(r.name, *r.value) : E_INVALIDARG;
    case kOpGetScriptVariable:
        return site_.GetScriptVariable(r.name, r.result);
    case kOpExecScript:
        return site_.ExecScript(r.name);
    case kOpCreateScriptObject:
        return site_.CreateScriptObject(r.name, r.object, r.filler ? *r.filler : ScriptObjectFiller());
    default:
        return E_FAIL;
    }
}

} // namespace Velmora::UI

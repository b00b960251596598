#include "fake_page.h"

#include <objbase.h>

namespace Velmora::UI::Testing {

void FakeDispatch::Define(const std::wstring& name, Method method)
{
    std::lock_guard<std::mutex> guard(lock_);
    IdOf(name);
    methods_[name] = std::move(method);
}

void FakeDispatch::SetProperty(const std::wstring& name, const VARIANT& value)
{
    std::lock_guard<std::mutex> guard(lock_);
    IdOf(name);
    properties_[name] = ScopedVariant(value);
}

ScopedVariant FakeDispatch::Property(const std::wstring& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = properties_.find(name);
    return it == properties_.end() ? ScopedVariant() : it->second;
}

std::vector<FakeDispatch::Call> FakeDispatch::Calls()
{
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::vector<FakeDispatch::Call> FakeDispatch::CallsOf(const std::wstring& name)
{
    std::vector<Call> out;
    for (auto& c : Calls())
        if (c.name == name)
            out.push_back(c);
    return out;
}

DISPID FakeDispatch::IdOf(const std::wstring& name)
{
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name)
            return static_cast<DISPID>(i + 1);
    names_.push_back(name);
    return static_cast<DISPID>(names_.size());
}

STDMETHODIMP FakeDispatch::QueryInterface(REFIID riid, void** out)
{
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeDispatch::Release()
{
    releaseThreads.push(::GetCurrentThreadId());
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP FakeDispatch::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP FakeDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FakeDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (count != 1)
        return E_INVALIDARG;
    const std::wstring name = names[0];
    if (!methods_.count(name) && !properties_.count(name)) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = IdOf(name);
    return S_OK;
}

STDMETHODIMP FakeDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO*, UINT*)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (id < 1 || static_cast<size_t>(id) > names_.size())
        return DISP_E_MEMBERNOTFOUND;
    const std::wstring name = names_[static_cast<size_t>(id) - 1];
    Call call;
    call.name = name;
    call.thread = ::GetCurrentThreadId();
    for (UINT i = params->cArgs; i > params->cNamedArgs; --i)
        call.args.emplace_back(params->rgvarg[i - 1]);
    if (flags & DISPATCH_PROPERTYPUT) {
        if (params->cArgs != 1 || params->cNamedArgs != 1 ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
        properties_[name] = ScopedVariant(params->rgvarg[0]);
        calls_.push_back(call);
        return S_OK;
    }
    calls_.push_back(call);
    if (flags & DISPATCH_PROPERTYGET) {
        auto it = properties_.find(name);
        if (it != properties_.end()) {
            if (result)
                ::VariantCopy(result, it->second.Ptr());
            return S_OK;
        }
    }
    auto method = methods_.find(name);
    if (method == methods_.end())
        return DISP_E_MEMBERNOTFOUND;
    Method run = method->second;
    guard.unlock();
    VARIANT ignored;
    ::VariantInit(&ignored);
    run(call.args, result ? result : &ignored);
    ::VariantClear(&ignored);
    return S_OK;
}

FakeDispatch* NewCallback(std::function<void(const VARIANT& result)> onCall)
{
    auto* cb = new FakeDispatch();
    cb->Define(L"call", [onCall](const std::vector<ScopedVariant>& args, VARIANT*) {
        if (onCall)
            onCall(args.size() > 1 ? args[1].Get() : ScopedVariant().Get());
    });
    return cb;
}

HeadlessDialog::HeadlessDialog()
{
    static const wchar_t* kClass = L"VelmoraHeadlessDialog";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &HeadlessDialog::WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);
    window_ = ::CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    bridge_->Attach(window_, ::GetCurrentThreadId());
}

HeadlessDialog::~HeadlessDialog()
{
    bridge_->Detach();
    bridge_->Site().SetScript(nullptr);
    ::DestroyWindow(window_);
}

LRESULT CALLBACK HeadlessDialog::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* self = reinterpret_cast<HeadlessDialog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == kMarshalledCallMessage)
        return self->bridge_->OnMarshalledCall(wp, lp);
    if (self && msg == kReleaseObjectMessage)
        return self->bridge_->OnReleaseObject(lp);
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs)
            return done();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

} // namespace Velmora::UI::Testing

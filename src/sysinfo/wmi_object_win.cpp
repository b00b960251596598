#include "sysinfo/wmi_object_win.h"

#include "common/message_box_win.h"
#include "common/scoped_handle_win.h"
#include "common/variant_win.h"

#include <oleauto.h>

namespace Velmora::System::Security {
namespace {

constexpr CLSID kWbemLocatorClass = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr HRESULT kSecurityAlreadySet = static_cast<HRESULT>(0x80010119); // RPC_E_TOO_LATE

struct BstrTraits {
    using Handle = BSTR;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::SysFreeString(h); }
};
using ScopedBstr = ScopedGeneric<BstrTraits>;

ScopedBstr Bstr(const std::wstring& text)
{
    return ScopedBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

bool IntegerOf(const VARIANT& v, std::int64_t* out)
{
    switch (v.vt) {
    case VT_I1:
        *out = v.cVal;
        return true;
    case VT_UI1:
        *out = v.bVal;
        return true;
    case VT_I2:
        *out = v.iVal;
        return true;
    case VT_UI2:
        *out = v.uiVal;
        return true;
    case VT_I4:
        *out = v.lVal;
        return true;
    case VT_UI4:
        *out = v.ulVal;
        return true;
    case VT_INT:
        *out = v.intVal;
        return true;
    case VT_UINT:
        *out = v.uintVal;
        return true;
    case VT_I8:
        *out = v.llVal;
        return true;
    case VT_UI8:
        *out = static_cast<std::int64_t>(v.ullVal);
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT CreateSystemLocator(IWbemLocator** locator)
{
    return ::CoCreateInstance(kWbemLocatorClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWbemLocator),
                              reinterpret_cast<void**>(locator));
}

CEasyWMIObject::CEasyWMIObject(LocatorFactory createLocator) : createLocator_(std::move(createLocator)) {}

CEasyWMIObject::CEasyWMIObject(IWbemClassObject* current) : current_(current) {}

HRESULT CEasyWMIObject::Initialize()
{
    const HRESULT security = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(security) && security != kSecurityAlreadySet)
        return security;
    if (!createLocator_)
        return E_POINTER;
    return createLocator_(locator_.Receive());
}

HRESULT CEasyWMIObject::Connect(const wchar_t* wmiNamespace)
{
    if (!locator_ || !wmiNamespace)
        return E_POINTER;
    const ScopedBstr name = Bstr(wmiNamespace);
    return locator_->ConnectServer(name.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                   services_.Receive());
}

HRESULT CEasyWMIObject::Query(const wchar_t* className)
{
    if (!services_ || !className)
        return E_POINTER;
    const ScopedBstr language = Bstr(L"WQL");
    const ScopedBstr query = Bstr(std::wstring(L"SELECT * FROM ") + className);
    return services_->ExecQuery(language.Get(), query.Get(), 0, nullptr, results_.Receive());
}

HRESULT CEasyWMIObject::ForEach(const Callback& callback)
{
    if (!results_)
        return E_POINTER;
    bool delivered = false;
    HRESULT last = S_OK;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        last = results_->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Receive(), &returned);
        if (FAILED(last) || returned == 0 || !object)
            break;
        delivered = true;
        CEasyWMIObject current(object.Get());
        if (callback)
            callback(current);
    }
    return delivered && SUCCEEDED(last) ? S_OK : E_NOINTERFACE;
}

std::wstring CEasyWMIObject::GetStringProperty(const wchar_t* name) const
{
    UI::ScopedVariant value;
    if (!current_ || FAILED(current_->Get(name, 0, value.Ptr(), nullptr, nullptr)) || value.Type() != VT_BSTR)
        return {};
    const BSTR text = value.Get().bstrVal;
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

std::int64_t CEasyWMIObject::GetIntegerProperty(const wchar_t* name) const
{
    UI::ScopedVariant value;
    if (!current_ || FAILED(current_->Get(name, 0, value.Ptr(), nullptr, nullptr)))
        return 0;
    std::int64_t number = 0;
    if (IntegerOf(value.Get(), &number))
        return number;
    ::OutputDebugStringW((std::wstring(L"WMI property of an unexpected type: ") + name + L"\n").c_str());
    // Through the message functions, so that a run without a person answers it instead of a box.
    UI::ShowMessage(kUndesiredTypeMessage, L"", kUndesiredTypeTitle, UI::kIconNone, nullptr);
    return 0;
}

bool CEasyWMIObject::GetBoolProperty(const wchar_t* name) const
{
    UI::ScopedVariant value;
    return current_ && SUCCEEDED(current_->Get(name, 0, value.Ptr(), nullptr, nullptr)) &&
           value.Type() == VT_BOOL && value.Get().boolVal != VARIANT_FALSE;
}

} // namespace Velmora::System::Security

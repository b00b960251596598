#pragma once
// Stand-ins for the zone objects' methods that Wine leaves unimplemented. Each wraps the system's
// real object and adds only the missing method, written to leave the registry as Windows does, so
// that the real MapUrlToZone and GetZoneAttributes then see the result.

#include "common/com_ptr_win.h"
#include "common/scoped_handle_win.h"
#include "ui/com_class_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <urlmon.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace Velmora::Assistant::Testing {

// The zone objects are COM objects: the test program's thread is a single-threaded apartment.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};
inline const auto* const g_comEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

VELMORA_COM_CLASSES_BEGIN

inline constexpr wchar_t kUserDomainsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
inline constexpr wchar_t kMachineZoneMapKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap";

// Lives on the test's stack: reference counting is not needed for ownership.
template <typename Interface> class StackComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

inline ComPtr<IInternetZoneManager> RealZoneManager()
{
    ComPtr<IInternetZoneManager> zones;
    CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER, IID_IInternetZoneManager,
                     zones.ReceiveVoid());
    return zones;
}

inline ComPtr<IInternetSecurityManager> RealSecurityManager()
{
    ComPtr<IInternetSecurityManager> security;
    CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IInternetSecurityManager, security.ReceiveVoid());
    return security;
}

// SetZoneMapping as Windows stores a "scheme://host" pattern for the current user: the value named
// after the scheme, holding the zone, in Domains\<last two labels>\<the labels before them>.
class FakeSecurityManager final : public StackComObject<IInternetSecurityManager> {
public:
    struct Call {
        DWORD zone;
        std::wstring pattern;
        DWORD flags;
        HRESULT result;
    };
    std::vector<Call> calls;
    std::set<std::wstring> refused; // patterns whose creation fails for a reason of their own

    HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite* site) override
    {
        return real_->SetSecuritySite(site);
    }
    HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite** site) override
    {
        return real_->GetSecuritySite(site);
    }
    HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD flags) override
    {
        return real_->MapUrlToZone(url, zone, flags);
    }
    HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR url, BYTE* id, DWORD* size, DWORD_PTR reserved) override
    {
        return real_->GetSecurityId(url, id, size, reserved);
    }
    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize,
                                               BYTE* context, DWORD contextSize, DWORD flags,
                                               DWORD reserved) override
    {
        return real_->ProcessUrlAction(url, action, policy, policySize, context, contextSize, flags,
                                       reserved);
    }
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize,
                                                BYTE* context, DWORD contextSize, DWORD reserved) override
    {
        return real_->QueryCustomPolicy(url, key, policy, policySize, context, contextSize, reserved);
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD flags) override
    {
        const HRESULT result = Map(zone, pattern, flags);
        calls.push_back({zone, pattern, flags, result});
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD zone, IEnumString** mappings, DWORD flags) override
    {
        return real_->GetZoneMappings(zone, mappings, flags);
    }

private:
    HRESULT Map(DWORD zone, const std::wstring& pattern, DWORD flags)
    {
        const std::size_t split = pattern.find(L"://");
        if (split == std::wstring::npos || split == 0)
            return E_INVALIDARG;
        const std::wstring scheme = pattern.substr(0, split);
        const std::wstring host =
            pattern.substr(split + 3, pattern.find_first_of(L"/:", split + 3) - split - 3);
        const std::size_t last = host.rfind(L'.');
        if (host.empty() || last == std::wstring::npos || last == 0)
            return E_INVALIDARG;
        const std::size_t domainStart = host.rfind(L'.', last - 1);
        std::wstring key = std::wstring(kUserDomainsKey) + L"\\";
        key += domainStart == std::wstring::npos
                   ? host
                   : host.substr(domainStart + 1) + L"\\" + host.substr(0, domainStart);

        ScopedRegKey mapping;
        DWORD stored = 0;
        DWORD size = sizeof stored;
        const bool exists = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS,
                                          mapping.Receive()) == ERROR_SUCCESS &&
                            RegQueryValueExW(mapping.Get(), scheme.c_str(), nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(&stored), &size) == ERROR_SUCCESS;
        if (flags == SZM_DELETE) {
            if (!exists || stored != zone)
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            return HRESULT_FROM_WIN32(RegDeleteValueW(mapping.Get(), scheme.c_str()));
        }
        if (flags != SZM_CREATE)
            return E_INVALIDARG;
        if (exists)
            return stored == zone ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        if (FAILED(zones_->GetZoneAttributes(zone, &attributes)))
            return E_INVALIDARG;
        if ((attributes.dwFlags & ZAFLAGS_REQUIRE_VERIFICATION) && _wcsicmp(scheme.c_str(), L"https") != 0)
            return E_ACCESSDENIED;
        if (refused.contains(pattern))
            return E_FAIL;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            mapping.Receive(), nullptr) != ERROR_SUCCESS)
            return E_FAIL;
        return HRESULT_FROM_WIN32(RegSetValueExW(mapping.Get(), scheme.c_str(), 0, REG_DWORD,
                                                 reinterpret_cast<const BYTE*>(&zone), sizeof zone));
    }

    ComPtr<IInternetSecurityManager> real_ = RealSecurityManager();
    ComPtr<IInternetZoneManager> zones_ = RealZoneManager();
};

// CopyTemplatePoliciesToZone as Windows does it: the action values of the machine's template
// ("TemplatePolicies\<name>") are copied into the user's zone key. The other methods are the real
// ones; zones can be made to fail reading or copying.
class FakeZoneManager final : public StackComObject<IInternetZoneManager> {
public:
    std::vector<DWORD> read;                     // zones whose attributes were asked for, in order
    std::vector<DWORD> unreadable;               // zones whose attributes cannot be read
    std::vector<DWORD> copyRefused;              // zones whose policies cannot be copied
    std::vector<std::pair<DWORD, DWORD>> copied; // (template, zone)

    HRESULT STDMETHODCALLTYPE GetZoneAttributes(DWORD zone, ZONEATTRIBUTES* attributes) override
    {
        read.push_back(zone);
        if (std::find(unreadable.begin(), unreadable.end(), zone) != unreadable.end())
            return E_FAIL;
        return real_->GetZoneAttributes(zone, attributes);
    }
    HRESULT STDMETHODCALLTYPE SetZoneAttributes(DWORD zone, ZONEATTRIBUTES* attributes) override
    {
        return real_->SetZoneAttributes(zone, attributes);
    }
    HRESULT STDMETHODCALLTYPE GetZoneCustomPolicy(DWORD zone, REFGUID key, BYTE** policy, DWORD* size,
                                                  URLZONEREG where) override
    {
        return real_->GetZoneCustomPolicy(zone, key, policy, size, where);
    }
    HRESULT STDMETHODCALLTYPE SetZoneCustomPolicy(DWORD zone, REFGUID key, BYTE* policy, DWORD size,
                                                  URLZONEREG where) override
    {
        return real_->SetZoneCustomPolicy(zone, key, policy, size, where);
    }
    HRESULT STDMETHODCALLTYPE GetZoneActionPolicy(DWORD zone, DWORD action, BYTE* policy, DWORD size,
                                                  URLZONEREG where) override
    {
        return real_->GetZoneActionPolicy(zone, action, policy, size, where);
    }
    HRESULT STDMETHODCALLTYPE SetZoneActionPolicy(DWORD zone, DWORD action, BYTE* policy, DWORD size,
                                                  URLZONEREG where) override
    {
        return real_->SetZoneActionPolicy(zone, action, policy, size, where);
    }
    HRESULT STDMETHODCALLTYPE PromptAction(DWORD action, HWND parent, LPCWSTR url, LPCWSTR text,
                                           DWORD flags) override
    {
        return real_->PromptAction(action, parent, url, text, flags);
    }
    HRESULT STDMETHODCALLTYPE LogAction(DWORD action, LPCWSTR url, LPCWSTR text, DWORD flags) override
    {
        return real_->LogAction(action, url, text, flags);
    }
    HRESULT STDMETHODCALLTYPE CreateZoneEnumerator(DWORD* enumerator, DWORD* count, DWORD flags) override
    {
        return real_->CreateZoneEnumerator(enumerator, count, flags);
    }
    HRESULT STDMETHODCALLTYPE GetZoneAt(DWORD enumerator, DWORD index, DWORD* zone) override
    {
        return real_->GetZoneAt(enumerator, index, zone);
    }
    HRESULT STDMETHODCALLTYPE DestroyZoneEnumerator(DWORD enumerator) override
    {
        return real_->DestroyZoneEnumerator(enumerator);
    }
    HRESULT STDMETHODCALLTYPE CopyTemplatePoliciesToZone(DWORD level, DWORD zone, DWORD) override
    {
        copied.emplace_back(level, zone);
        if (std::find(copyRefused.begin(), copyRefused.end(), zone) != copyRefused.end())
            return E_FAIL;
        ScopedRegKey from;
        ScopedRegKey to;
        const std::wstring name = TemplateName(level);
        if (name.empty() ||
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kTemplatesKey) + L"\\" + name).c_str(), 0,
                          KEY_READ, from.Receive()) != ERROR_SUCCESS ||
            RegCreateKeyExW(HKEY_CURRENT_USER, ZoneKey(zone).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            to.Receive(), nullptr) != ERROR_SUCCESS)
            return E_INVALIDARG;
        wchar_t value[256];
        BYTE data[1024];
        for (DWORD i = 0;; ++i) {
            DWORD valueSize = std::size(value);
            DWORD dataSize = sizeof data;
            DWORD type = REG_NONE;
            const LSTATUS status =
                RegEnumValueW(from.Get(), i, value, &valueSize, nullptr, &type, data, &dataSize);
            if (status == ERROR_NO_MORE_ITEMS)
                return S_OK;
            if (status != ERROR_SUCCESS ||
                RegSetValueExW(to.Get(), value, 0, type, data, dataSize) != ERROR_SUCCESS)
                return E_FAIL;
        }
    }

    static constexpr wchar_t kTemplatesKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\TemplatePolicies";
    static std::wstring ZoneKey(DWORD zone)
    {
        return L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\" +
               std::to_wstring(zone);
    }
    static std::wstring TemplateName(DWORD level)
    {
        switch (level) {
        case URLTEMPLATE_LOW:
            return L"Low";
        case URLTEMPLATE_MEDLOW:
            return L"MedLow";
        case URLTEMPLATE_MEDIUM:
            return L"Medium";
        case URLTEMPLATE_MEDHIGH:
            return L"MedHigh";
        case URLTEMPLATE_HIGH:
            return L"High";
        default:
            return L"";
        }
    }

private:
    ComPtr<IInternetZoneManager> real_ = RealZoneManager();
};

VELMORA_COM_CLASSES_END

} // namespace Velmora::Assistant::Testing

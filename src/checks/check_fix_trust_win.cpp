#include "checks/check_fix_trust_win.h"

#include "checks/scoped_redirection_win.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kZoneMapKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap";

ComPtr<IInternetSecurityManager> CreateSecurityManager()
{
    ComPtr<IInternetSecurityManager> manager;
    if (FAILED(CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInternetSecurityManager, manager.ReceiveVoid())))
        manager.Reset();
    return manager;
}

ComPtr<IInternetZoneManager> CreateZoneManager()
{
    ComPtr<IInternetZoneManager> manager;
    if (FAILED(CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IInternetZoneManager, manager.ReceiveVoid())))
        manager.Reset();
    return manager;
}

// Maps the site once more with the zone's https requirement lifted, and restores the requirement
// when the mapping was made.
HRESULT MapWithoutHttpsRequirement(const std::wstring& url, IInternetSecurityManager& security,
                                   IInternetZoneManager& zones, HRESULT latest)
{
    ZONEATTRIBUTES attributes{};
    attributes.cbSize = sizeof attributes;
    HRESULT result = zones.GetZoneAttributes(kTrustedSitesZone, &attributes);
    if (FAILED(result))
        return result;
    if (!(attributes.dwFlags & ZAFLAGS_REQUIRE_VERIFICATION))
        return latest; // refused for another reason: still a failure

    attributes.dwFlags &= ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION);
    result = zones.SetZoneAttributes(kTrustedSitesZone, &attributes);
    if (FAILED(result))
        return result;
    const HRESULT mapped = security.SetZoneMapping(kTrustedSitesZone, url.c_str(), SZM_CREATE);
    // The requirement is the customer's setting: it comes back whether or not the site was mapped.
    attributes.dwFlags |= ZAFLAGS_REQUIRE_VERIFICATION;
    result = zones.SetZoneAttributes(kTrustedSitesZone, &attributes);
    return FAILED(mapped) ? mapped : result;
}

} // namespace

void RemoveMachineZoneMappings()
{
    // On 64-bit Windows each browser reads the mappings of its own registry view, this process's
    // zone lookups included, so they go from both (on 32-bit Windows both flags name the one key).
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        ScopedRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kZoneMapKey, 0, KEY_ALL_ACCESS | view, key.Receive()) !=
            ERROR_SUCCESS)
            continue;
        RegDeleteTreeW(key.Get(), L"Domains");
        RegDeleteTreeW(key.Get(), L"EscDomains");
    }
}

int ZoneOfUrl(const std::wstring& url, IInternetSecurityManager* manager)
{
    RemoveMachineZoneMappings();
    ComPtr<IInternetSecurityManager> own;
    if (!manager) {
        own = CreateSecurityManager();
        manager = own.Get();
        if (!manager)
            return -1;
    }
    DWORD zone = 0;
    if (FAILED(manager->MapUrlToZone(url.c_str(), &zone, 0)))
        return -1;
    return static_cast<int>(zone);
}

HRESULT AddTrustedSite(const std::wstring& url, IInternetSecurityManager& security,
                       IInternetZoneManager* zones)
{
    HRESULT result = security.SetZoneMapping(kTrustedSitesZone, url.c_str(), SZM_CREATE);
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) {
        // Mapped to another zone: the old mapping has to go first.
        const int zone = ZoneOfUrl(url, &security);
        if (zone != -1) {
            result = security.SetZoneMapping(static_cast<DWORD>(zone), url.c_str(), SZM_DELETE);
            result = security.SetZoneMapping(kTrustedSitesZone, url.c_str(), SZM_CREATE);
        }
    }
    if (result == E_ACCESSDENIED) {
        ComPtr<IInternetZoneManager> own;
        if (!zones) {
            own = CreateZoneManager();
            zones = own.Get();
            if (!zones)
                return result;
        }
        result = MapWithoutHttpsRequirement(url, security, *zones, result);
    }
    return result;
}

ComPtr<IInternetSecurityManager> CheckFixTrust::SecurityManager() const
{
    return security_ ? security_ : CreateSecurityManager();
}

std::int32_t CheckFixTrust::CheckEntry(ConfigEntry& entry)
{
    const int zone = ZoneOfUrl(Utf8ToWide(entry.Text), security_.Get());
    return zone == static_cast<int>(kTrustedSitesZone) ? kResultPassed : kResultFailed;
}

std::int32_t CheckFixTrust::FixEntry(ConfigEntry& entry)
{
    const std::wstring url = Utf8ToWide(entry.Text);
    if (ZoneOfUrl(url, security_.Get()) == static_cast<int>(kTrustedSitesZone))
        return kResultPassed;
    const ComPtr<IInternetSecurityManager> security = SecurityManager();
    if (!security)
        return kResultFailed;
    return SUCCEEDED(AddTrustedSite(url, *security.Get(), zones_.Get())) ? kResultPassed : kResultFailed;
}

} // namespace Velmora::Assistant

#pragma once
// `trust` entries: the bank's sites must be in the browser's Trusted sites zone. The entry's text is
// the site as the zone manager takes it ("https://www.bank.example"). The zone objects can be
// handed in; otherwise the system's own are made for each entry.

#include "checks/check_fix.h"
#include "common/com_ptr_win.h"

#include <urlmon.h>
#include <windows.h>

#include <string>

namespace Velmora::Assistant {

inline constexpr DWORD kTrustedSitesZone = 2;

// Deletes the machine-wide "Domains" and "EscDomains" mappings (in the 64-bit view under WOW64),
// which would otherwise decide the zone before the user's own; failures are ignored.
void RemoveMachineZoneMappings();

// Removes the machine-wide mappings, then the zone `url` maps to; -1 when that cannot be told.
// A null manager means the system's own.
int ZoneOfUrl(const std::wstring& url, IInternetSecurityManager* manager = nullptr);

// Maps `url` into the Trusted sites zone. A site mapped to another zone is moved; a site that is not
// https while the zone requires https is mapped with the requirement lifted for that one mapping.
// The status of the last platform call. A null zone manager means the system's own, made only when
// needed.
HRESULT AddTrustedSite(const std::wstring& url, IInternetSecurityManager& security,
                       IInternetZoneManager* zones = nullptr);

class CheckFixTrust final : public ICheckFix {
public:
    CheckFixTrust() = default;
    CheckFixTrust(IInternetSecurityManager* security, IInternetZoneManager* zones)
        : security_(security), zones_(zones)
    {
    }

    // 2 when the site is in the Trusted sites zone, else -2.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // 2 when the site is or has been put into the Trusted sites zone, else -2.
    std::int32_t FixEntry(ConfigEntry& entry) override;

private:
    ComPtr<IInternetSecurityManager> SecurityManager() const;

    ComPtr<IInternetSecurityManager> security_;
    ComPtr<IInternetZoneManager> zones_;
};

} // namespace Velmora::Assistant

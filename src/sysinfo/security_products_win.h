#pragma once
// Firewall and antivirus products from Windows Security Center, the state of the Windows firewall
// and of automatic updates, and the verdicts of the checks over them. The caller's thread has COM
// initialised.

#include "sysinfo/security_state.h"
#include "sysinfo/wmi_object_win.h"

#include <netfw.h>
#include <wuapi.h>

#include <functional>
#include <vector>

namespace Velmora::System::Security {

using FirewallManagerFactory = std::function<HRESULT(INetFwMgr** manager)>;
using AutomaticUpdatesFactory = std::function<HRESULT(IAutomaticUpdates** updates)>;
HRESULT CreateSystemFirewallManager(INetFwMgr** manager);
HRESULT CreateSystemAutomaticUpdates(IAutomaticUpdates** updates);

// Where the platform's objects come from; the system's own unless a test says otherwise.
struct SecurityPlatform {
    LocatorFactory createLocator = CreateSystemLocator;
    FirewallManagerFactory createFirewallManager = CreateSystemFirewallManager;
    AutomaticUpdatesFactory createAutomaticUpdates = CreateSystemAutomaticUpdates;
};

inline constexpr wchar_t kSecurityCenter2[] = L"root\\SecurityCenter2"; // Windows Vista and later
inline constexpr wchar_t kSecurityCenter[] = L"root\\SecurityCenter";   // Windows XP

// Each clears `products` and fills it in the order WMI answers; the result is the query's.
HRESULT QueryFirewallProducts(std::vector<FirewallProduct>& products,
                              const LocatorFactory& createLocator = CreateSystemLocator);
HRESULT QueryAntivirusProducts(std::vector<AntivirusProduct>& products,
                               const LocatorFactory& createLocator = CreateSystemLocator);

// The current profile's firewall-enabled flag; `enabled` is set only on success.
HRESULT GetWindowsFirewallEnabled(bool* enabled,
                                  const FirewallManagerFactory& createManager = CreateSystemFirewallManager);
// True when the notification level is above 1; false when any step fails. The level goes to
// `level` when given and read.
bool GetAutomaticUpdatesOn(int* level = nullptr,
                           const AutomaticUpdatesFactory& createUpdates = CreateSystemAutomaticUpdates);

// The answers of the checks `firewall`, `antivirus` and `winupdate`: true passes.
bool FirewallVerdict(const SecurityPlatform& platform = {});
bool AntivirusVerdict(const SecurityPlatform& platform = {});
bool WindowsUpdateVerdict(const SecurityPlatform& platform = {});

} // namespace Velmora::System::Security

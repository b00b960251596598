#include "sysinfo/security_state.h"

#include <algorithm>

namespace Velmora::System::Security {

ProductState DecodeProductState(std::int64_t productState)
{
    const auto state = static_cast<std::uint32_t>(productState);
    return {(state & 0x1000) != 0, (state & 0xFF) == 0};
}

bool FirewallVerdictOf(std::int32_t windowsFirewallStatus, bool windowsFirewallEnabled,
                       std::int32_t productsStatus, const std::vector<FirewallProduct>& products)
{
    if (windowsFirewallStatus >= 0 && windowsFirewallEnabled)
        return true;
    return productsStatus >= 0 &&
           std::any_of(products.begin(), products.end(), [](const FirewallProduct& p) { return p.enabled; });
}

bool AntivirusVerdictOf(std::int32_t productsStatus, const std::vector<AntivirusProduct>& products)
{
    return productsStatus >= 0 &&
           std::any_of(products.begin(), products.end(),
                       [](const AntivirusProduct& p) { return p.onAccessScanningEnabled && p.upToDate; });
}

bool AutomaticUpdatesLevelOn(std::int32_t notificationLevel)
{
    return notificationLevel > 1;
}

} // namespace Velmora::System::Security

#pragma once
// Security products as Windows Security Center lists them, and the verdicts of the checks
// `firewall`, `antivirus` and `winupdate` over them.

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora::System::Security {

struct FirewallProduct {
    bool enabled = false;
    std::string company; // UTF-8; empty where the system does not say
    std::string name;
    std::string version;
};

struct AntivirusProduct {
    bool onAccessScanningEnabled = false;
    bool upToDate = false;
    std::string name;
    std::string company;
    std::string version;
};

// The state word of a Vista-and-later product: bit 12 means on, a zero low byte means the
// signature data are current. Only the low 32 bits of the read value count.
struct ProductState {
    bool on = false;
    bool upToDate = false;
};
ProductState DecodeProductState(std::int64_t productState);

// Statuses are HRESULTs: negative is a failure.
bool FirewallVerdictOf(std::int32_t windowsFirewallStatus, bool windowsFirewallEnabled,
                       std::int32_t productsStatus, const std::vector<FirewallProduct>& products);
bool AntivirusVerdictOf(std::int32_t productsStatus, const std::vector<AntivirusProduct>& products);
// Not configured (0) and disabled (1) are off; every notify or install level is on.
bool AutomaticUpdatesLevelOn(std::int32_t notificationLevel);

} // namespace Velmora::System::Security

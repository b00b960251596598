#pragma once
// `dns` entries: the entry's host name (or dotted IPv4 address) resolves only to the addresses in
// its `ip` attribute. Nothing can be repaired; with a proxy configured the answer would say nothing
// about the customer's own resolver, so every entry reports -1.

#include "checks/check_fix.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

// Asks the DNS client directly for the first A record of a name; empty when there is none.
std::optional<std::string> QueryARecord(const std::string& name);

using AddressLookup = std::optional<std::string> (*)(const std::string& name);

// Dotted IPv4 texts in the resolver's order. A text with a letter is resolved as a name, one
// without is looked up in reverse as a dotted address; when the resolver returns no host entry,
// `fallback` is asked instead.
std::vector<std::string> ResolveHost(std::string_view host, AddressLookup fallback = QueryARecord);

class CheckFixDns : public ICheckFix {
public:
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    std::int32_t FixEntry(ConfigEntry&) override { return kResultNotFixable; }
};

} // namespace Velmora::Assistant

// Feeds arbitrary text to the check-configuration parser and checks the model's invariants:
// attribute names lower case, no empty values, one group per type, lookups that find what is there.
#include "checks/check_config.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

using namespace Velmora::Assistant;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckAttributes(const AttributeMap& attributes)
{
    for (const auto& [name, value] : attributes.Values()) {
        Check(!value.empty());
        Check(AsciiLower(name) == name);
        Check(&attributes.Get(name) == &value);
    }
}

void CheckEntries(const std::vector<ConfigEntry>& entries)
{
    for (const ConfigEntry& entry : entries) {
        Check(entry.State == 0);
        CheckAttributes(entry.Attributes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckConfig config;
    if (!ParseCheckConfig(config, text)) {
        Check(config.Groups.empty() && config.Items.empty() && config.RootAttributes.Size() == 0);
        return 0;
    }
    CheckAttributes(config.RootAttributes);
    CheckAttributes(config.AppInfoAttributes);
    std::set<std::string> types;
    for (const ConfigGroup& group : config.Groups) {
        Check(types.insert(group.Type).second);
        Check(config.GroupByType(group.Type) == &group);
        CheckEntries(group.Entries);
    }
    const std::size_t groups = config.Groups.size();
    (void)config.GroupByType("no such type \x01");
    Check(config.Groups.size() == groups);
    for (std::size_t i = 0; i < config.ItemCount(); ++i) {
        const ConfigItem* item = config.ItemAt(i);
        Check(item != nullptr);
        CheckAttributes(item->Attributes);
        CheckEntries(item->Detect);
        CheckEntries(item->Installers);
        CheckEntries(item->Uninstallers);
    }
    Check(config.ItemAt(config.ItemCount()) == nullptr);
    CheckEntries(config.AppInfoDetect);
    CheckEntries(config.AppInfoInstaller);
    (void)ResolveRemoteUrl(config, "setup.exe");
    return 0;
}

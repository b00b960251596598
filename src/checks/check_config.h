#pragma once
// The in-memory model of the check configuration: what to check and repair, the named texts the
// page asks for, the installable components and the assistant's own update record. Built from the
// document by ParseCheckConfig; everything else reads only this model. All strings are UTF-8.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

// ASCII letters to lower case; other bytes (UTF-8 sequences included) unchanged.
std::string AsciiLower(std::string_view text);

// Attribute names are case-insensitive in the document: they are stored in lower case, an empty
// value is not stored at all, and a later value replaces an earlier one.
class AttributeMap {
public:
    using Map = std::map<std::string, std::string>;

    void Set(std::string_view name, std::string_view value);
    // Lower-case name; an empty text when absent.
    const std::string& Get(std::string_view name) const;
    bool Has(std::string_view name) const { return values_.contains(std::string(name)); }
    std::size_t Size() const { return values_.size(); }
    void Clear() { values_.clear(); }
    const Map& Values() const { return values_; }

private:
    Map values_;
};

struct ConfigEntry {
    std::int32_t State = 0; // last result code of a check or fix on this entry
    std::string Text;
    AttributeMap Attributes;
};

struct ConfigGroup {
    std::string Type;
    std::vector<ConfigEntry> Entries;
};

struct ConfigItem {
    AttributeMap Attributes;
    std::vector<ConfigEntry> Detect;
    std::vector<ConfigEntry> Installers;
    std::vector<ConfigEntry> Uninstallers;
};

class CheckConfig {
public:
    AttributeMap RootAttributes;
    std::map<std::string, std::string> DataValues; // names as written, case-sensitive
    std::vector<ConfigGroup> Groups;               // in order of first appearance of the type
    std::vector<ConfigItem> Items;                 // an item's position is its index on the page
    AttributeMap AppInfoAttributes;
    std::vector<ConfigEntry> AppInfoDetect;
    std::vector<ConfigEntry> AppInfoInstaller;
    std::vector<ConfigEntry> AppInfoReserved; // never filled by the parser
    // Where the loader found the document: its URL (empty for a local file), and whether the copy
    // kept from an earlier download stood in for it.
    std::string SourceUrl;
    bool FromCache = false;

    void Clear();

    // Exact, case-sensitive match; never creates a group.
    ConfigGroup* GroupByType(std::string_view type);
    const ConfigGroup* GroupByType(std::string_view type) const;

    std::size_t ItemCount() const { return Items.size(); }
    ConfigItem* ItemAt(std::size_t index);
    const ConfigItem* ItemAt(std::size_t index) const;

    const std::string& RootAttribute(std::string_view name) const { return RootAttributes.Get(name); }
    const std::string& DataValue(std::string_view name) const;
};

// The process's one configuration, from start-up to exit. Used from the command worker only.
CheckConfig& TheCheckConfig();

// Fills `config` from the document text (it is not cleared first: the loader does that). False
// when the text does not parse or has no `checkitems` root.
bool ParseCheckConfig(CheckConfig& config, std::string_view text);

// A download location from the configuration: empty or absolute ("://") values are returned as
// they are, anything else is taken relative to the root attribute `base`.
std::string ResolveRemoteUrl(const CheckConfig& config, std::string_view remote);

// True for an absolute https URL with a host (any letter case in the scheme; no user part).
bool IsHttpsUrl(std::string_view url);

// The notice file's URL (data value `var_url`), only where notices may come from: over https from
// the host the document was downloaded from, or one of the same registrable domain, and never when
// the document is the cached copy or a local file. Empty otherwise.
std::string NoticeFileUrl(const CheckConfig& config);

} // namespace Velmora::Assistant

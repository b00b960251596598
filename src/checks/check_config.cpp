#include "checks/check_config.h"

#include "xml/xml_document.h"

#include <unordered_map>

namespace Velmora::Assistant {
namespace {

const std::string kEmpty;

void ReadAttributes(const Xml::XmlDocument& doc, AttributeMap& into)
{
    std::string name, value;
    for (std::size_t i = 0; doc.AttributeAt(i, name, value); ++i)
        into.Set(name, value);
}

ConfigEntry ReadEntry(const Xml::XmlDocument& doc)
{
    ConfigEntry entry;
    entry.Text = doc.ElementText();
    ReadAttributes(doc, entry.Attributes);
    return entry;
}

// Every `name` element at the current level, from the current position on.
void ReadEntries(Xml::XmlDocument& doc, std::string_view name, std::vector<ConfigEntry>& into)
{
    while (doc.FindElement(name))
        into.push_back(ReadEntry(doc));
}

} // namespace

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void AttributeMap::Set(std::string_view name, std::string_view value)
{
    // An empty value is not stored; it does not remove what an earlier spelling set either, since
    // "later wins" applies only to values that are stored.
    if (!value.empty())
        values_[AsciiLower(name)] = std::string(value);
}

const std::string& AttributeMap::Get(std::string_view name) const
{
    const auto it = values_.find(std::string(name));
    return it == values_.end() ? kEmpty : it->second;
}

void CheckConfig::Clear()
{
    RootAttributes.Clear();
    DataValues.clear();
    Groups.clear();
    Items.clear();
    AppInfoAttributes.Clear();
    AppInfoDetect.clear();
    AppInfoInstaller.clear();
    AppInfoReserved.clear();
}

ConfigGroup* CheckConfig::GroupByType(std::string_view type)
{
    for (ConfigGroup& group : Groups) {
        if (group.Type == type)
            return &group;
    }
    return nullptr;
}

const ConfigGroup* CheckConfig::GroupByType(std::string_view type) const
{
    return const_cast<CheckConfig*>(this)->GroupByType(type);
}

ConfigItem* CheckConfig::ItemAt(std::size_t index)
{
    return index < Items.size() ? &Items[index] : nullptr;
}

const ConfigItem* CheckConfig::ItemAt(std::size_t index) const
{
    return index < Items.size() ? &Items[index] : nullptr;
}

const std::string& CheckConfig::DataValue(std::string_view name) const
{
    const auto it = DataValues.find(std::string(name));
    return it == DataValues.end() ? kEmpty : it->second;
}

CheckConfig& TheCheckConfig()
{
    static CheckConfig config;
    return config;
}

bool ParseCheckConfig(CheckConfig& config, std::string_view text)
{
    Xml::XmlDocument doc;
    if (!doc.SetText(text) || !doc.FindElement("checkitems"))
        return false;
    ReadAttributes(doc, config.RootAttributes);
    doc.EnterElement();

    // Groups by type, the first of each type as GroupByType would find it; a document with many
    // types must not cost a scan of all groups per section.
    std::unordered_map<std::string, std::size_t> groupOfType;
    for (std::size_t i = config.Groups.size(); i-- > 0;)
        groupOfType[config.Groups[i].Type] = i;
    while (doc.FindElement("config")) {
        std::string type = doc.GetAttribute("type");
        const auto [slot, added] = groupOfType.try_emplace(type, config.Groups.size());
        if (added)
            config.Groups.push_back(ConfigGroup{std::move(type), {}});
        doc.EnterElement();
        ReadEntries(doc, "entry", config.Groups[slot->second].Entries);
        doc.LeaveElement();
    }

    doc.RestartLevel();
    while (doc.FindElement("data"))
        config.DataValues[doc.GetAttribute("name")] = doc.ElementText();

    // Items are searched on from where the data search ended, so an item written before the last
    // data element is not part of the configuration.
    while (doc.FindElement("item")) {
        ConfigItem& item = config.Items.emplace_back();
        ReadAttributes(doc, item.Attributes);
        doc.EnterElement();
        ReadEntries(doc, "detect", item.Detect);
        doc.RestartLevel();
        ReadEntries(doc, "installer", item.Installers);
        doc.RestartLevel();
        ReadEntries(doc, "uninstaller", item.Uninstallers);
        doc.LeaveElement();
    }

    doc.RestartLevel();
    while (doc.FindElement("appinfo")) {
        ReadAttributes(doc, config.AppInfoAttributes);
        doc.EnterElement();
        ReadEntries(doc, "detect", config.AppInfoDetect);
        doc.RestartLevel();
        ReadEntries(doc, "installer", config.AppInfoInstaller);
        doc.LeaveElement();
    }
    return true;
}

std::string ResolveRemoteUrl(const CheckConfig& config, std::string_view remote)
{
    if (remote.empty() || remote.find("://") != std::string_view::npos)
        return std::string(remote);
    return config.RootAttribute("base") + std::string(remote);
}

} // namespace Velmora::Assistant

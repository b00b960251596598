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

// One attribute of the current element, its name matched in any letter case as every attribute
// name of the document is.
std::string ReadAttribute(const Xml::XmlDocument& doc, std::string_view name)
{
    AttributeMap attributes;
    ReadAttributes(doc, attributes);
    return attributes.Get(name);
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
    SourceUrl.clear();
    FromCache = false;
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
        std::string type = ReadAttribute(doc, "type");
        const auto [slot, added] = groupOfType.try_emplace(type, config.Groups.size());
        if (added)
            config.Groups.push_back(ConfigGroup{std::move(type), {}});
        doc.EnterElement();
        ReadEntries(doc, "entry", config.Groups[slot->second].Entries);
        doc.LeaveElement();
    }

    doc.RestartLevel();
    while (doc.FindElement("data"))
        config.DataValues[ReadAttribute(doc, "name")] = doc.ElementText();

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

namespace {

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The host of an absolute http(s) URL, lower-cased, with the scheme's length in `schemeLength`;
// empty when the URL has none or names a user ("user@host" hides the real host from a reader).
std::string HostOf(std::string_view url, std::size_t* schemeLength)
{
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos)
        return {};
    *schemeLength = colon;
    std::string_view rest = url.substr(colon + 3);
    rest = rest.substr(0, rest.find_first_of("/?#\\"));
    if (rest.find('@') != std::string_view::npos)
        return {};
    if (const std::size_t port = rest.rfind(':'); port != std::string_view::npos)
        rest = rest.substr(0, port);
    std::string host;
    for (const char c : rest)
        host += AsciiLower(c);
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host;
}

// The registrable part of a host name: its last two labels, or three under a common second level
// of a country domain ("bank.com.cn", "bank.co.uk"). A numeric address stands for itself.
std::string_view RegistrableDomain(std::string_view host)
{
    if (!host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos)
        return host;
    const auto labelStart = [&](std::size_t end) {
        const std::size_t dot = end == 0 ? std::string_view::npos : host.rfind('.', end - 1);
        return dot == std::string_view::npos ? 0 : dot + 1;
    };
    const std::size_t last = labelStart(host.size());
    if (last == 0)
        return host;
    const std::size_t second = labelStart(last - 1);
    const std::string_view secondLabel = host.substr(second, last - 1 - second);
    const bool countryLevel = host.size() - last == 2;
    static constexpr std::string_view kSecondLevels[] = {"com", "net", "org", "gov", "edu", "ac", "co"};
    bool underSecondLevel = false;
    for (const std::string_view level : kSecondLevels)
        underSecondLevel = underSecondLevel || (countryLevel && secondLabel == level);
    if (!underSecondLevel || second == 0)
        return host.substr(second);
    return host.substr(labelStart(second - 1));
}

} // namespace

bool IsHttpsUrl(std::string_view url)
{
    std::size_t schemeLength = 0;
    if (HostOf(url, &schemeLength).empty() || schemeLength != 5)
        return false;
    std::string scheme;
    for (const char c : url.substr(0, 5))
        scheme += AsciiLower(c);
    return scheme == "https";
}

std::string NoticeFileUrl(const CheckConfig& config)
{
    const std::string& script = config.DataValue("var_url");
    if (config.FromCache || script.empty())
        return {};
    std::size_t scriptScheme = 0, sourceScheme = 0;
    const std::string scriptHost = HostOf(script, &scriptScheme);
    const std::string sourceHost = HostOf(config.SourceUrl, &sourceScheme);
    if (!IsHttpsUrl(script) || sourceHost.empty() ||
        RegistrableDomain(scriptHost) != RegistrableDomain(sourceHost))
        return {};
    return script;
}

} // namespace Velmora::Assistant

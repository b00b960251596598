#include "checks/run_driver.h"

#include "checks/json_text.h"

#include <cstdio>

namespace Velmora::Assistant {
namespace {

constexpr std::string_view kTypeAnswerHead = "{ \"type\" : \"";
constexpr std::string_view kTypeAnswerMiddle = "\", \"result\" : ";

bool IsMarked64(const ConfigEntry& entry)
{
    return entry.Attributes.Get("bit") == "64";
}

// Copies of the entries a 32-bit system can use.
std::vector<ConfigEntry> Without64BitEntries(const std::vector<ConfigEntry>& entries)
{
    std::vector<ConfigEntry> kept;
    for (const ConfigEntry& entry : entries)
        if (!IsMarked64(entry))
            kept.push_back(entry);
    return kept;
}

std::int32_t CheckGroup(ICheckFix* handler, ConfigGroup& group, bool stopOnFailure)
{
    return handler ? RunCheck(*handler, group.Entries.data(), group.Entries.size(), stopOnFailure)
                   : kResultNotRun;
}

std::int32_t FixGroup(ICheckFix* handler, ConfigGroup& group)
{
    return handler ? RunFix(*handler, group.Entries.data(), group.Entries.size()) : kResultNotRun;
}

bool RunGroup(ConfigGroup& group, bool checkOnly, const RunServices& services)
{
    ICheckFix* handler = services.handlerFor ? services.handlerFor(group.Type) : nullptr;
    if (group.Type == "trust" || group.Type == "compatibility") {
        // Repaired even by a check: the page never offers a repair of these two.
        return CheckGroup(handler, group, true) == kResultPassed || FixGroup(handler, group) == kResultPassed;
    }
    if (group.Type == "cfca")
        return services.sm2Certificates && services.sm2Certificates(checkOnly);
    if (checkOnly)
        return CheckGroup(handler, group, false) == kResultPassed;
    return FixGroup(handler, group) == kResultPassed;
}

std::int32_t InstallComponent(ConfigItem& item, const RunServices& services)
{
    if (!services.installItem)
        return kResultFailed;
    if (services.is64BitWindows)
        return services.installItem(item.Detect, item.Installers);
    // On a 32-bit system: only the installers it can run, and nothing re-checked afterwards.
    std::vector<ConfigEntry> noDetect;
    std::vector<ConfigEntry> installers = Without64BitEntries(item.Installers);
    return services.installItem(noDetect, installers);
}

} // namespace

int ItemStatusOf(std::int32_t detectionCode)
{
    switch (detectionCode) {
    case kResultPassed:
        return kItemInstalled;
    case kResultDisabled:
        return kItemDisabled;
    case kResultMismatch:
        return kItemUpdateAvailable;
    default:
        return kItemNotInstalled;
    }
}

std::string TypeAnswer(std::string_view type, bool result)
{
    const std::string_view tail = result ? "true}" : "false}";
    const std::size_t room =
        kMaxAnswerLength - kTypeAnswerHead.size() - kTypeAnswerMiddle.size() - tail.size();
    std::string name;
    for (std::size_t pos = 0; pos < type.size();) {
        std::size_t length = 0;
        std::string piece = JsonPiece(type, pos, &length);
        if (name.size() + piece.size() > room)
            break;
        name += piece;
        pos += length;
    }
    std::string answer(kTypeAnswerHead);
    answer += name;
    answer += kTypeAnswerMiddle;
    answer += tail;
    return answer;
}

std::string ItemAnswer(std::int32_t index, int status)
{
    char answer[64];
    std::snprintf(answer, sizeof answer, "{ \"index\" : %d, \"result\" : %d}", static_cast<int>(index),
                  status);
    return answer;
}

std::int32_t DetectEntries(std::vector<ConfigEntry>& entries, bool stopOnFailure,
                           const HandlerLookup& handlerFor)
{
    std::int32_t result = kResultPassed;
    bool warning = false;
    for (ConfigEntry& entry : entries) {
        ICheckFix* handler = handlerFor ? handlerFor(entry.Attributes.Get("dtype")) : nullptr;
        if (!handler)
            return kResultNoHandler;
        const std::int32_t code = RunCheck(*handler, &entry, 1, true);
        if (code == kResultMismatch) {
            warning = true;
        } else if (code != kResultPassed) {
            result = code;
            if (stopOnFailure)
                break;
        }
    }
    if (result != kResultPassed)
        return result;
    return warning ? kResultMismatch : kResultPassed;
}

std::int32_t DetectItem(ConfigItem& item, bool stopOnFailure, const RunServices& services)
{
    if (services.is64BitWindows)
        return DetectEntries(item.Detect, stopOnFailure, services.handlerFor);
    std::vector<ConfigEntry> chosen = Without64BitEntries(item.Detect);
    return DetectEntries(chosen, stopOnFailure, services.handlerFor);
}

void EnableItem(ConfigItem& item, const RunServices& services)
{
    ICheckFix* clsid = services.handlerFor ? services.handlerFor("clsid") : nullptr;
    if (clsid) {
        ConfigGroup addOns{"clsid", {}};
        for (const ConfigEntry& entry : item.Detect)
            if (entry.Attributes.Get("dtype") == "clsid")
                addOns.Entries.push_back(entry);
        RunCheck(*clsid, addOns.Entries.data(), addOns.Entries.size(), false);
        for (const ConfigEntry& entry : addOns.Entries) {
            if (entry.State == kResultDisabled) {
                RunFix(*clsid, addOns.Entries.data(), addOns.Entries.size());
                break;
            }
        }
    }
    const std::int32_t state = DetectItem(item, false, services);
    if (state == kResultDisabled && services.installItem)
        services.installItem(item.Detect, item.Installers);
    else if (state == kResultMismatch || state == kResultFailed)
        InstallComponent(item, services); // switched on, the component itself is missing or old
}

std::optional<std::string> RunRequest(CheckConfig& config, const RunTarget& target, bool checkOnly,
                                      const RunServices& services)
{
    if (const std::string* type = std::get_if<std::string>(&target)) {
        bool result = false;
        if (ConfigGroup* group = config.GroupByType(*type))
            result = RunGroup(*group, checkOnly, services);
        else if (services.builtInCheck)
            result = services.builtInCheck(*type, checkOnly).value_or(false);
        return TypeAnswer(*type, result);
    }

    const std::int32_t index = std::get<std::int32_t>(target);
    ConfigItem* item = index < 0 ? nullptr : config.ItemAt(static_cast<std::size_t>(index));
    if (!item)
        return std::nullopt;
    if (!checkOnly) {
        if (services.setInstallIndex)
            services.setInstallIndex(index);
        const std::int32_t before = DetectItem(*item, false, services);
        if (before == kResultMismatch || before == kResultFailed)
            InstallComponent(*item, services);
        else if (before == kResultDisabled)
            EnableItem(*item, services);
    }
    return ItemAnswer(index, ItemStatusOf(DetectItem(*item, false, services)));
}

} // namespace Velmora::Assistant

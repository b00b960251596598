#pragma once
// The check run driver: serves one page request. The page decides what to check and in which order;
// each request names either a check type (a group of the configuration, or one of the built-in
// checks) or a component by its index, and says whether to repair. The answer is the small JSON text
// the page's callback parses.
//
//   RunServices services = ...;           // handlers, built-ins, installs (platform side)
//   std::optional<std::string> answer = RunRequest(config, RunTarget{"trust"}, true, services);
//   // { "type" : "trust", "result" : true}

#include "checks/check_config.h"
#include "checks/check_fix.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Velmora::Assistant {

// A check-type name (UTF-8) or a component's index in the configuration's item list.
using RunTarget = std::variant<std::string, std::int32_t>;

// A component's state as the page shows it.
enum ItemStatus : int {
    kItemInstalled = 0,
    kItemDisabled = 1,
    kItemUpdateAvailable = 2,
    kItemNotInstalled = 3,
};

// Detection code (2 installed, -3 disabled, 1 needs an update, anything else missing) to status.
int ItemStatusOf(std::int32_t detectionCode);

// Longest answer the page is given.
inline constexpr std::size_t kMaxAnswerLength = 255;

// `{ "type" : "<type>", "result" : true}`. The name is escaped for JSON and shortened (never inside
// a character or an escape) so that the answer stays within kMaxAnswerLength.
std::string TypeAnswer(std::string_view type, bool result);
// `{ "index" : 3, "result" : 0}`.
std::string ItemAnswer(std::int32_t index, int status);

using HandlerLookup = std::function<ICheckFix*(std::string_view type)>;

// What the driver needs from the platform.
struct RunServices {
    HandlerLookup handlerFor;
    // The process is a 32-bit one on 64-bit Windows: entries marked `bit="64"` count as well.
    bool is64BitWindows = false;
    // Installs a component (its installers, then its detection re-checked and `file` entries
    // repaired) with the driver's download progress; the handler family's code.
    std::function<std::int32_t(std::vector<ConfigEntry>& detect, std::vector<ConfigEntry>& installers)>
        installItem;
    // The component whose download progress the page is shown from now on.
    std::function<void(std::int32_t index)> setInstallIndex;
    // A built-in check (level, cache, proxy, ...) by exact name; none when the name is not one.
    std::function<std::optional<bool>(std::string_view name, bool checkOnly)> builtInCheck;
    // The SM2 certificate set of a `cfca` group: checked, or the missing ones installed.
    std::function<bool(bool checkOnly)> sm2Certificates;
};

// Runs `entries` one at a time, each checked alone with stop-on-failure, through the handler its
// `dtype` names. 2 when all pass; 1 when all pass but some only with a warning; -5 at the first entry
// without a handler; otherwise the failure code (the first one with `stopOnFailure`, else the last).
// No entries: 2.
std::int32_t DetectEntries(std::vector<ConfigEntry>& entries, bool stopOnFailure,
                           const HandlerLookup& handlerFor);

// A component's detection: every detect entry on 64-bit Windows, else only those not marked
// `bit="64"` (checked on copies, so the item's own entries then keep their state).
std::int32_t DetectItem(ConfigItem& item, bool stopOnFailure, const RunServices& services);

// Re-enables a component whose browser add-on is switched off, and installs it when that does not
// bring it back: the whole item when it still shows switched off, or as a missing or old component
// is installed when switching it on shows it is one.
void EnableItem(ConfigItem& item, const RunServices& services);

// One request. No answer for an item index past the list.
std::optional<std::string> RunRequest(CheckConfig& config, const RunTarget& target, bool checkOnly,
                                      const RunServices& services);

} // namespace Velmora::Assistant

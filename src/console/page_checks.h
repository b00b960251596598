#pragma once
// What the page checks and how it reads and shows the answers, for runs without the page: the fixed
// check types in the page's order with their names and result texts, the components' status texts,
// which components the page selects for the customer, and how it judges the results.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Velmora::Console {

struct FixedCheck {
    std::string_view type;
    std::string_view name;
    std::string_view okText;
    std::string_view failText;
    std::string_view action; // the repair's name; empty when the assistant cannot repair it
};

// In the page's checking order.
std::span<const FixedCheck> FixedChecks();

// A component as the page knows it: the fields get_config hands to the page.
struct PageItem {
    std::int32_t index = 0;
    std::string name;
    std::string type;
    std::string flag;
    std::string keyId;
};

// The settings the page selects components by.
struct CustomerKind {
    int userType = 0; // 1: customers with a USB key
    int safeType = 7; // mask of the security kinds the customer has
    std::string keyType;
};

// Key drivers only for a key customer and the chosen key; "safe" components by the customer's
// security kinds; every other component always.
bool IsItemSelected(const PageItem& item, const CustomerKind& kind);
bool IsKeyItem(const PageItem& item);

// The value of `field` in one of the engine's answers (`{ "type" : "host", "result" : true}`): a
// string's content, or a literal as written. None when the field is not there.
std::optional<std::string> AnswerField(std::string_view answer, std::string_view field);

enum class CheckState {
    Ok,      // in order
    Repair,  // not in order, and the assistant can repair it
    Warning, // not in order, and the assistant cannot repair it
};

struct Judgement {
    CheckState state = CheckState::Ok;
    std::string_view text;
    bool passed = false;
};

// A fixed check's answer (none: the engine gave none) as the page shows it. The proxy row only
// informs.
Judgement JudgeFixed(const FixedCheck& check, const std::optional<std::string>& answer);

// A component's status (0 installed, 1 disabled, 2 update available, 3 not installed) from its
// answer; no answer or one out of range counts as not installed.
int ItemStatusFromAnswer(const std::optional<std::string>& answer);
std::string_view ItemStatusText(int status);
// The repair the page offers for a status: "修复", "升级", "安装"; empty for an installed one.
std::string_view ItemAction(int status);

} // namespace Velmora::Console

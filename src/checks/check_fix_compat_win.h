#pragma once
// `compatibility` entries: the bank's domains must be shown in the browser's compatibility view,
// either because every site is or because the domain is on the user's compatibility-view list.

#include "checks/check_fix.h"

#include <string>

namespace Velmora::Assistant {

// True when the user's list, or the machine's when the user has none, holds a prefix of `domain`.
// An unreadable list holds nothing.
bool InCompatList(const std::wstring& domain);

// Puts `domain` on the user's list unless some list already holds it. False when the list cannot be
// read or written, or is not one this program can extend without losing part of it.
bool AddToCompatList(const std::wstring& domain);

class CheckFixCompatibilityView final : public ICheckFix {
public:
    // Notes whether every site is shown in compatibility view; always 2.
    std::int32_t BeginCheck() override;
    // Entry text: the domain. 2 when every site is, or the domain is on a list, else -2.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // 2 when every site is, or the domain is or has been put on the user's list, else -2.
    std::int32_t FixEntry(ConfigEntry& entry) override;

private:
    bool allSitesMode_ = false; // from the last BeginCheck
};

} // namespace Velmora::Assistant

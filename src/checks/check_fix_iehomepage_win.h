#pragma once
// `iehomepage`: a policy that locks the browser's home page keeps the bank's start page from being
// set. The whole work is in the begin steps; the configuration gives this type no entries.

#include "checks/check_fix.h"

namespace Velmora::Assistant {

class CheckFixIEHomepage final : public ICheckFix {
public:
    // 2 when the policy key cannot be opened or its "Homepage" number is absent or 0, else -2.
    std::int32_t BeginCheck() override;
    // Deletes a nonzero "Homepage" number: 2 when there is none left, -2 when it cannot be deleted.
    std::int32_t BeginFix() override;
    std::int32_t CheckEntry(ConfigEntry&) override { return kResultNotFixable; }
    std::int32_t FixEntry(ConfigEntry&) override { return kResultNotFixable; }
};

} // namespace Velmora::Assistant

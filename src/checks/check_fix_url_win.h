#pragma once
// `url` entries: the bank's URL can be connected to. Nothing can be repaired.

#include "checks/check_fix.h"

namespace Velmora::Assistant {

class CheckFixUrl : public ICheckFix {
public:
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    std::int32_t FixEntry(ConfigEntry&) override { return kResultNotFixable; }
};

} // namespace Velmora::Assistant

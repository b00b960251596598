#pragma once
// `clsid` entries: a browser control is registered (its InprocServer32 path), present on disk in the
// wanted version or digest, and not switched off as a browser add-on. The entry's text is the class
// identifier as a key name under CLSID, normally with braces.

#include "checks/check_fix.h"

namespace Velmora::Assistant {

class CheckFixCOM : public ICheckFix {
public:
    // 2 in order, 1 wrong version or digest, -2 not registered or its file missing, -3 switched off.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // Looks again rather than trusting the last check: switches a disabled add-on back on (2), and
    // answers -1 for a missing control, which only its component's installer can put right.
    std::int32_t FixEntry(ConfigEntry& entry) override;
};

} // namespace Velmora::Assistant

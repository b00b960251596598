#pragma once
// `registry` entries: registry values the bank requires, such as browser security settings. The
// entry's text names the key ("HKCU\Software\..."), `name` the value (empty: the default value),
// `type` how `value` is compared and written (reg_dword with an optional `mask`, reg_sz,
// reg_binary; anything else only has to exist).

#include "checks/check_fix.h"
#include "common/scoped_handle_win.h"

#include <windows.h>

namespace Velmora::Assistant {

// Rights every entry key is opened or created with.
inline constexpr REGSAM kEntryKeyRights =
    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | READ_CONTROL;

// Opens the key of an entry's text: the root name before the first backslash, the subkey after it,
// in `view` (EntryKeyView). With `create`, a missing key is created. ERROR_SUCCESS or the system
// error; a text without a backslash is ERROR_INVALID_PARAMETER.
LSTATUS OpenEntryKey(const ConfigEntry& entry, REGSAM view, bool create, ScopedRegKey* key);

class CheckFixRegistry : public ICheckFix {
public:
    // -2 while registry editing is disabled by policy ("Disableregistrytools"), so that no entry of
    // the group is looked at.
    std::int32_t BeginCheck() override;
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // Lifts that policy first; -2 when it cannot.
    std::int32_t BeginFix() override;
    // Writes the wanted data. A value of another registry type than the entry's is left alone (-2).
    std::int32_t FixEntry(ConfigEntry& entry) override;
};

} // namespace Velmora::Assistant

#pragma once
// The security levels of the browser's Internet, Trusted sites and Restricted sites zones: each
// should be at the level the system recommends for it.

#include <urlmon.h>
#include <windows.h>

namespace Velmora::Assistant {

// A security template as a level number: none 0, low 1, medium-low 2, medium 3, medium-high 4,
// high 5; anything else counts as none.
int TemplateLevelNumber(DWORD level);

// Makes a zone manager; the program uses the system's own.
using ZoneManagerMaker = HRESULT (*)(IInternetZoneManager** zones);
HRESULT MakeSystemZoneManager(IInternetZoneManager** zones);

// Reads zones 3, 2 and 4, in that order; true when none that could be read is away from its
// recommended level. With `repair`, such a zone is set to its recommended level and given that
// level's policies, and true then means every repair succeeded.
bool CheckZoneLevels(bool repair, IInternetZoneManager& zones);

// The same with a manager made by `make`. False when none can be made: a check that cannot run
// does not pass, and nothing was repaired.
bool CheckZoneLevels(bool repair, ZoneManagerMaker make = MakeSystemZoneManager);

} // namespace Velmora::Assistant

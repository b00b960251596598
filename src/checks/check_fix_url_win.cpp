#include "checks/check_fix_url_win.h"

#include "common/text_win.h"
#include "net/connection_state_win.h"

namespace Velmora::Assistant {

std::int32_t CheckFixUrl::CheckEntry(ConfigEntry& entry)
{
    return Network::CanConnect(Utf8ToWide(entry.Text)) ? kResultPassed : kResultFailed;
}

} // namespace Velmora::Assistant

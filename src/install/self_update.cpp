#include "install/self_update.h"

namespace Velmora::Assistant {

bool IsMandatoryUpdate(const AttributeMap& appInfo)
{
    const std::string imperative = AsciiLower(appInfo.Get("imperative"));
    return imperative == "true" || imperative == "1";
}

bool UpdateNeeded(CheckConfig& config, const HandlerLookup& handlerFor, bool* mandatory)
{
    if (mandatory)
        *mandatory = IsMandatoryUpdate(config.AppInfoAttributes);
    return DetectEntries(config.AppInfoDetect, true, handlerFor) != kResultPassed;
}

} // namespace Velmora::Assistant

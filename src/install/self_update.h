#pragma once
// Whether the assistant itself needs an update: the configuration's `appinfo` record describes the
// assistant as a component whose detect entries pass only while the installed copy is current.

#include "checks/check_config.h"
#include "checks/run_driver.h"

namespace Velmora::Assistant {

// Mandatory when `imperative` is "true" or "1" in any letter case.
bool IsMandatoryUpdate(const AttributeMap& appInfo);

// Checks every `appinfo` detect entry in order (no `bit` filter), stopping at the first failure; an
// entry whose type has no handler also means an update is needed. No `appinfo`, or one without
// detect entries: up to date.
bool UpdateNeeded(CheckConfig& config, const HandlerLookup& handlerFor, bool* mandatory);

} // namespace Velmora::Assistant

#pragma once
// The check_update command: asks (or, for a mandatory update, tells) the user, installs the new
// version with its download progress on the page, and restarts the program.

#include "checks/check_config.h"
#include "checks/run_driver.h"

#include <windows.h>

#include <functional>

namespace Velmora::Assistant {

struct UpdateServices {
    HandlerLookup handlerFor;
    // InstallItem on the `appinfo` record with the update's own download progress.
    std::function<std::int32_t(std::vector<ConfigEntry>& detect, std::vector<ConfigEntry>& installers)>
        installItem;
    // Set to -1 before the download: the page shows the progress as the assistant's own.
    std::function<void(std::int32_t index)> setInstallIndex;
};

// `interactive`: the user asked (an up-to-date answer is then shown as well); otherwise the
// scheduled check, which is silent unless there is an update. Dialogs are owned by `owner`. True
// when the new version was installed: the caller then restarts the program.
bool CheckForUpdate(CheckConfig& config, bool interactive, HWND owner, const UpdateServices& services);

// Installs the `appinfo` component; true when the installers ran and its detection now passes.
bool ApplyUpdate(CheckConfig& config, const UpdateServices& services);

} // namespace Velmora::Assistant

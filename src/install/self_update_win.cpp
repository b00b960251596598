#include "install/self_update_win.h"

#include "common/message_box_win.h"
#include "install/self_update.h"

namespace Velmora::Assistant {
namespace {

// The application's string table.
constexpr UINT kTitleText = 102;
constexpr UINT kOptionalUpdateText = 104;
constexpr UINT kMandatoryUpdateText = 105;
constexpr UINT kUpdateFoundText = 106;
constexpr UINT kUpdateNowText = 107;
constexpr UINT kUpdateLaterText = 108;
constexpr UINT kUpToDateText = 255;
constexpr UINT kNoUpdateNeededText = 256;

} // namespace

bool ApplyUpdate(CheckConfig& config, const UpdateServices& services)
{
    // The installers having run is not enough: a file left for the next restart, or a detect
    // entry no handler checks, leaves the old version in place, and a restart for a mandatory
    // update would then come back to the same update again and again.
    return services.installItem &&
           services.installItem(config.AppInfoDetect, config.AppInfoInstaller) == kResultPassed &&
           !UpdateNeeded(config, services.handlerFor, nullptr);
}

bool CheckForUpdate(CheckConfig& config, bool interactive, HWND owner, const UpdateServices& services)
{
    bool mandatory = false;
    if (!UpdateNeeded(config, services.handlerFor, &mandatory)) {
        if (interactive)
            UI::ShowMessage(kUpToDateText, kNoUpdateNeededText, kTitleText, UI::kIconInformation, owner);
        return false;
    }
    if (mandatory) {
        UI::ShowMessage(kMandatoryUpdateText, kUpdateFoundText, kTitleText, UI::kIconInformation, owner);
    } else if (UI::AskYesNo(kOptionalUpdateText, kUpdateFoundText, kTitleText, kUpdateNowText,
                            kUpdateLaterText, owner) != UI::kAnswerYes) {
        return false;
    }
    if (services.setInstallIndex)
        services.setInstallIndex(-1);
    return ApplyUpdate(config, services);
}

} // namespace Velmora::Assistant

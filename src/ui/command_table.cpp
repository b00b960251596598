#include "ui/command_table.h"

namespace Velmora {
namespace {

struct Row {
    std::wstring_view name;
    int id;
};

constexpr Row kCommands[CommandTable::kRows] = {
    {L"get_config", kCommandGetConfig},
    {L"save_settings", kCommandSaveSettings},
    {L"load_settings", kCommandLoadSettings},
    {L"messagebox", kCommandMessageBox},
    {L"open_ie", kCommandOpenIe},
    {L"get_data", kCommandGetData},
    {L"is_key_connect", kCommandIsKeyConnect},
    {L"do_check", kCommandDoCheck},
    {L"do_fix", kCommandDoFix},
    {L"do_install", kCommandDoInstall},
    {L"get_version", kCommandGetVersion},
    {L"debug_print", kCommandDebugPrint},
    {L"delay_ms", kCommandDelayMs},
    {L"call_js", kCommandCallJs},
    {L"do_extra_startup", kCommandDoExtraStartup},
    {L"check_update", kCommandCheckUpdate},
    {L"update_key_info", kCommandUpdateKeyInfo},
    {L"restart_app", kCommandRestartApp},
    {L"http_post", kCommandHttpPost},
    {L"start_with_boot", kCommandStartWithBoot},
    {L"set_Log", kCommandSetLog},
    {L"Get_SM_info", kCommandGetSmInfo},
    {L"mini_size", kCommandMiniSize},
    {L"quit", kCommandQuit},
    {L"get_notices", kCommandGetNotices},
};

} // namespace

int CommandTable::IdOf(std::wstring_view name) const
{
    for (const Row& row : kCommands) {
        if (row.name == name)
            return row.id;
    }
    return kCommandUnknown;
}

} // namespace Velmora

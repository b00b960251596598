#pragma once
// Script command names and their ids. The application object owns the one table; the command
// handler looks names up in it.

#include <string_view>

namespace Velmora {

enum CommandId : int {
    kCommandUnknown = -1,
    kCommandGetConfig = 1,
    kCommandSaveSettings = 2,
    kCommandLoadSettings = 3,
    kCommandMessageBox = 4,
    kCommandOpenIe = 5,
    kCommandGetData = 6,
    kCommandIsKeyConnect = 7,
    kCommandDoCheck = 8,
    kCommandDoFix = 9,
    kCommandDoInstall = 10,
    kCommandGetVersion = 11,
    kCommandDebugPrint = 12,
    kCommandDelayMs = 13,
    kCommandCallJs = 14,
    kCommandDoExtraStartup = 15,
    kCommandCheckUpdate = 16,
    kCommandUpdateKeyInfo = 17,
    kCommandRestartApp = 18,
    kCommandHttpPost = 19,
    // 20 is not assigned.
    kCommandStartWithBoot = 21,
    kCommandSetLog = 22,
    kCommandGetSmInfo = 23,
    kCommandMiniSize = 24,
    kCommandQuit = 25,
    kCommandGetNotices = 26,
};

class CommandTable {
public:
    // Exact, case-sensitive; kCommandUnknown for a name not in the table.
    int IdOf(std::wstring_view name) const;
    static constexpr int kRows = 25;
};

} // namespace Velmora

#pragma once
// The services of the command handler as the program provides them. Start-up fills in the parts
// that belong to the application shell (settings, quit, restart, log, autostart, process launch).

#include "ui/bs_dialog_win.h"
#include "ui/command_handler_win.h"

namespace Velmora::UI {

// The built-in configuration address, used when the setting ConfigUrl is absent or empty.
inline constexpr wchar_t kDefaultConfigUrl[] = L"https://ebank.velmora.example/EBANK/ocx/item.xml";
inline constexpr UINT kDisplayNameResource = 102;
inline constexpr UINT kMainIconResource = 199;
inline constexpr int kMainPageResource = 200;

// The engine's members of the command services, as the program runs them (the shell's members,
// quitting among them, are the application's to fill).
CommandServices ProgramCommandServices();

// The main dialog's creation record: no parent, the display name as title, no caption, fitted to the
// page, no size limits, the program's icon, page resource 200, no hook and no menu.
BSDialogParams MainDialogParams(CommandHandler handler);

// After the main dialog exists: messages without an owner belong to it, and pages that leave the
// program open in Internet Explorer as the desktop user.
void ConnectMainDialog(IBSDialog* dialog);

} // namespace Velmora::UI

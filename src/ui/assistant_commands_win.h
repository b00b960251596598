#pragma once
// The services of the command handler as the program provides them. Start-up fills in the parts
// that belong to the application shell (settings, quit, restart, log, autostart, process launch).

#include "ui/command_handler_win.h"

namespace Velmora::UI {

// The built-in configuration address, used when the setting ConfigUrl is absent or empty.
inline constexpr wchar_t kDefaultConfigUrl[] = L"https://ebank.velmora.example/EBANK/ocx/item.xml";
inline constexpr UINT kDisplayNameResource = 102;

// To be called on the UI thread: the quit message is posted to the calling thread.
CommandServices ProgramCommandServices();

} // namespace Velmora::UI

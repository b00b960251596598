#pragma once
// What the application shell lends the command handler: settings, quit and restart, the log,
// autostart and starting programs.

#include "ui/command_handler_win.h"

namespace Velmora {

// Fills the shell's members of `services`; the others are left as they are.
void FillShellServices(UI::CommandServices& services);

} // namespace Velmora

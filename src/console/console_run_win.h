#pragma once
// The unattended check: the program's own command handler and engine, driven in the page's order
// with the console standing in for the page.

#include "app/console_output_win.h"

#include <string>
#include <vector>

namespace Velmora::Console {

// Runs the command line `args` (without the program itself) and returns the process exit code.
int RunConsoleCheck(const std::vector<std::wstring>& args, ConsoleOutput& out);

} // namespace Velmora::Console

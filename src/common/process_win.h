#pragma once
// Starting other programs: installers as the elevated user this program runs as, a browser as the
// user of the desktop shell (so that it does not inherit the elevation).

#include <string_view>

namespace Velmora {

// Longest command line RunCommandLine accepts, terminator included; longer ones are refused.
inline constexpr size_t kCommandLineCapacity = 520;

// Starts `commandLine` (program and arguments as one text). Hidden starts the window hidden;
// wait blocks until the child ends. As shell user, the child gets a copy of the desktop shell's
// token instead of this process's one. Returns the exit code (0 for a child still running), or -1
// when nothing was started: a command line of kCommandLineCapacity characters or more, no shell
// window, no privilege, or a failed creation.
int RunCommandLine(std::wstring_view commandLine, bool hidden, bool wait, bool asShellUser);

} // namespace Velmora

#pragma once
// Text rules of running a downloaded installer: the file name a download is stored under, and the
// command line that hands the installer's path to the command an entry gives.

#include <string>
#include <string_view>

namespace Velmora::Assistant {

// The URL without its query and fragment: the name a download is stored under is its last path
// segment, never text the server may vary per request.
std::wstring_view InstallerUrlPath(std::wstring_view url);

// `command` with the first "%1" (with its quotation marks) replaced by `quotedPath`, or, when it
// holds none, the first %1; later occurrences stay as written. A command without %1 is returned
// unchanged. The path appears quoted exactly once either way.
std::wstring InstallerCommandLine(std::wstring_view command, std::wstring_view quotedPath);

// The command line that runs a downloaded installer of its own (an entry without a command), with
// `parameters` after it: a program (.exe) is started itself, a Windows Installer package (.msi)
// through `msiexec` (the system's, by its full path) with /i; any other file is refused (empty):
// it would run through whatever the user made its type open with.
std::wstring DirectInstallerCommandLine(std::wstring_view path, std::wstring_view parameters,
                                        std::wstring_view msiexec);

} // namespace Velmora::Assistant

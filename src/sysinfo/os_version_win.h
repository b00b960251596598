#pragma once
// Which Windows and which Internet Explorer are installed, as the page shows them, and starting
// Internet Explorer. None of these fails: an empty text means "not found".

#include "sysinfo/os_version_text.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace Velmora::System {

// The facts of the running system (kernel32.dll's product version from the system directory).
OsVersionFacts GatherOsVersionFacts();
// BuildOsVersionText over GatherOsVersionFacts.
std::wstring GetOsVersionText();
// True when HKLM's ProductName names Windows 10, in any letter case.
bool IsWindows10ByProductName();
// "svcVersion", else "Version" of the Internet Explorer key; empty when neither reads.
std::wstring GetIeVersion();
// The App Paths entry when it names an existing file, else Program Files' iexplore.exe when it
// exists, else whatever the App Paths entry said (empty when nothing).
std::wstring GetIePath();
// Opens `url` in Internet Explorer as the desktop user, not waiting. 0, 0x80070002 without a
// browser path, 0x80004005 when it does not start.
HRESULT LaunchIe(std::wstring_view url);

// The answer of the page command get_version: "sysversion" the Windows text ("Windows 10" when
// the product name says so), "ieversion" the browser version, none for any other name.
std::optional<std::wstring> VersionTextFor(std::wstring_view which);

} // namespace Velmora::System

#pragma once
// Pure text rules of the autostart entry in the per-user Run key.

#include <optional>
#include <string>
#include <string_view>

namespace Velmora {

// The value name for a program: folders stripped first ("\" then "/"), then everything from the
// first "." of what is left. C:\Program Files\Foo\Runner.exe gives Runner.
std::wstring AutostartEntryName(std::wstring_view programPath);

// The value data: the path as given, followed by one blank and the arguments when there are any.
// No quotes are added.
std::wstring AutostartValueData(std::wstring_view programPath, std::optional<std::wstring_view> arguments);

} // namespace Velmora

#pragma once
// The one place where text crosses between UTF-8 (portable code, the check configuration) and
// UTF-16 (the Win32 boundary). Invalid sequences become U+FFFD rather than failing.

#include <string>
#include <string_view>

namespace Velmora {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// Bytes a system component hands out in no stated encoding: UTF-8 when they are valid UTF-8, else
// text of the system's ANSI code page (what older components and providers write).
std::wstring Utf8OrAnsiToWide(std::string_view text);

// `text` with its %variables% replaced by the environment's values (an unknown one stays as it is);
// empty when the system cannot expand it.
std::wstring ExpandEnvironmentText(const std::wstring& text);

} // namespace Velmora

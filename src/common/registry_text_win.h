#pragma once
// Reading a string value of the registry.

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace Velmora {

enum class RegistryText {
    Plain,     // REG_SZ only
    Expandable // REG_SZ or REG_EXPAND_SZ, as stored (not expanded)
};

// The string value `name` of the open `key`, up to its first NUL (stored data need not carry its
// terminator, and may carry more than one). None when it is missing, of another type, or longer
// than `maxChars`.
std::optional<std::wstring> ReadRegistryString(HKEY key, const wchar_t* name, RegistryText accepted,
                                               std::size_t maxChars = 32767);

} // namespace Velmora

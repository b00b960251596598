#pragma once
// Registry access shared by the `registry` and `clsid` handlers: key paths as entries write them,
// and values read whole.

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace Velmora::Assistant {

// "HKLM" / "HKEY_LOCAL_MACHINE", "HKCU" / "HKEY_CURRENT_USER", "HKCR" / "HKEY_CLASSES_ROOT", in
// any letter case; every other name means the current user.
HKEY RegistryRoot(std::string_view name);

// The registry view an entry's keys are opened in: the 64-bit view while its ScopedRedirection is
// active, the process's own view otherwise.
constexpr REGSAM EntryKeyView(bool is64BitView)
{
    return is64BitView ? KEY_WOW64_64KEY : 0;
}

// Opens `subkey` of `root` with `rights`; with `create`, a key that cannot be opened is created with
// the same rights. ERROR_SUCCESS or the system error of the last attempt.
LSTATUS OpenRegistryKey(HKEY root, const std::wstring& subkey, REGSAM rights, bool create, ScopedRegKey* key);

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;
};

// Reads a value whole, whatever its size. ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing
// value, or another system error.
LSTATUS ReadRegistryValue(HKEY key, const std::wstring& name, RegistryValue* value);

// The text of a string value up to its first NUL (registry strings need not be terminated).
std::wstring RegistryText(const RegistryValue& value);

// The number held by a REG_DWORD value of four bytes; false for anything else.
bool RegistryDword(const RegistryValue& value, DWORD* number);

} // namespace Velmora::Assistant

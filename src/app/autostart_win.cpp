#include "app/autostart_win.h"

#include "app/autostart_entry.h"
#include "common/scoped_handle_win.h"

#include <windows.h>

#include <shlwapi.h>

#include <optional>
#include <string>

namespace Velmora {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace

bool SetAutostart(const wchar_t* programPath, const wchar_t* arguments, bool enable)
{
    if (programPath == nullptr || *programPath == L'\0')
        return false;
    const std::wstring name = AutostartEntryName(programPath);
    // An empty name would address the key's default value, which is not ours to change.
    if (name.empty())
        return false;
    if (!enable)
        return SHDeleteValueW(HKEY_CURRENT_USER, kRunKey, name.c_str()) == ERROR_SUCCESS;

    const std::wstring data = AutostartValueData(
        programPath, arguments != nullptr ? std::optional<std::wstring_view>(arguments) : std::nullopt);
    if (data.size() > MAXDWORD / sizeof(wchar_t))
        return false;
    // Some systems refuse the write when the Run key does not exist yet.
    ScopedRegKey run;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, run.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return SHRegSetUSValueW(kRunKey, name.c_str(), REG_SZ, data.c_str(),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)),
                            SHREGSET_FORCE_HKCU) == ERROR_SUCCESS;
}

} // namespace Velmora

#include "app/settings_store_win.h"

#include "app/module_paths_win.h"
#include "common/registry_text_win.h"
#include "common/scoped_handle_win.h"

#include <windows.h>

#include <vector>

namespace Velmora {
namespace {

ScopedRegKey OpenForReading(const std::wstring& path)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

bool SetValue(const std::wstring& path, std::wstring_view name, DWORD type, const void* data, DWORD bytes)
{
    ScopedRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring valueName(name);
    return RegSetValueExW(key.Get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data), bytes) ==
           ERROR_SUCCESS;
}

} // namespace

SettingsStore::SettingsStore(std::wstring company, std::wstring application)
    : profileKey_(L"Software\\" + company + L"\\" + application)
{
}

std::wstring SettingsStore::SectionKey(std::wstring_view section) const
{
    return profileKey_ + L"\\" + std::wstring(section);
}

int SettingsStore::ReadInt(std::wstring_view section, std::wstring_view key, int defaultValue) const
{
    const ScopedRegKey handle = OpenForReading(SectionKey(section));
    if (!handle)
        return defaultValue;
    const std::wstring name(key);
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    if (RegQueryValueExW(handle.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof value)
        return defaultValue;
    return static_cast<int>(value);
}

std::wstring SettingsStore::ReadString(std::wstring_view section, std::wstring_view key,
                                       std::wstring_view defaultValue) const
{
    const ScopedRegKey handle = OpenForReading(SectionKey(section));
    if (!handle)
        return std::wstring(defaultValue);
    const std::wstring name(key);
    if (std::optional<std::wstring> value =
            ReadRegistryString(handle.Get(), name.c_str(), RegistryText::Expandable))
        return std::move(*value);
    return std::wstring(defaultValue);
}

bool SettingsStore::ReadBool(std::wstring_view section, std::wstring_view key, bool defaultValue) const
{
    return ReadInt(section, key, defaultValue ? -1 : 0) != 0;
}

bool SettingsStore::WriteInt(std::wstring_view section, std::wstring_view key, int value)
{
    const DWORD data = static_cast<DWORD>(value);
    return SetValue(SectionKey(section), key, REG_DWORD, &data, sizeof data);
}

bool SettingsStore::WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    const std::wstring data(value);
    return SetValue(SectionKey(section), key, REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool SettingsStore::WriteBool(std::wstring_view section, std::wstring_view key, bool value)
{
    return WriteInt(section, key, value ? -1 : 0);
}

SettingsStore& ProgramSettings()
{
    static SettingsStore store(kCompanyKey, ExecutableBaseName());
    return store;
}

} // namespace Velmora

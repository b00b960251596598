#include "checks/registry_key_win.h"

#include "checks/check_config.h"

#include <cstring>
#include <cwchar>

namespace Velmora::Assistant {

HKEY RegistryRoot(std::string_view name)
{
    const std::string lower = AsciiLower(name);
    if (lower == "hklm" || lower == "hkey_local_machine")
        return HKEY_LOCAL_MACHINE;
    if (lower == "hkcr" || lower == "hkey_classes_root")
        return HKEY_CLASSES_ROOT;
    return HKEY_CURRENT_USER;
}

LSTATUS OpenRegistryKey(HKEY root, const std::wstring& subkey, REGSAM rights, bool create, ScopedRegKey* key)
{
    const LSTATUS status = RegOpenKeyExW(root, subkey.c_str(), 0, rights, key->Receive());
    if (status == ERROR_SUCCESS || !create)
        return status;
    return RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, rights, nullptr,
                           key->Receive(), nullptr);
}

LSTATUS ReadRegistryValue(HKEY key, const std::wstring& name, RegistryValue* value)
{
    value->type = REG_NONE;
    value->data.clear();
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &value->type, nullptr, &size);
    // The value may grow between asking for its size and reading it: ask again a few times.
    for (int attempt = 0; attempt < 4 && status == ERROR_SUCCESS; ++attempt) {
        value->data.resize(size);
        DWORD got = size;
        status = RegQueryValueExW(key, name.c_str(), nullptr, &value->type,
                                  reinterpret_cast<BYTE*>(value->data.data()), &got);
        if (status == ERROR_SUCCESS) {
            value->data.resize(got);
            return ERROR_SUCCESS;
        }
        if (status == ERROR_MORE_DATA) {
            size = got;
            status = ERROR_SUCCESS;
        }
    }
    value->data.clear();
    return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
}

std::wstring RegistryText(const RegistryValue& value)
{
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    return text;
}

bool RegistryDword(const RegistryValue& value, DWORD* number)
{
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD))
        return false;
    std::memcpy(number, value.data.data(), sizeof(DWORD));
    return true;
}

} // namespace Velmora::Assistant

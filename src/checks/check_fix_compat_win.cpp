#include "checks/check_fix_compat_win.h"

#include "checks/registry_key_win.h"
#include "checks/user_filter.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <windows.h>

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kEmulationKey[] = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
constexpr wchar_t kListKey[] = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
constexpr wchar_t kListValue[] = L"UserFilter";

// The user's value, or the machine's when the user has none; read whole, whatever its size.
LSTATUS ReadUserThenMachine(const wchar_t* subkey, const wchar_t* name, RegistryValue* value)
{
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        ScopedRegKey key;
        status = OpenRegistryKey(root, subkey, KEY_QUERY_VALUE, false, &key);
        if (status == ERROR_SUCCESS)
            status = ReadRegistryValue(key.Get(), name, value);
        if (status == ERROR_SUCCESS)
            return status;
    }
    return status;
}

std::u16string Utf16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

} // namespace

bool InCompatList(const std::wstring& domain)
{
    RegistryValue list;
    return ReadUserThenMachine(kListKey, kListValue, &list) == ERROR_SUCCESS &&
           UserFilterContains(list.data, Utf16(domain));
}

bool AddToCompatList(const std::wstring& domain)
{
    if (InCompatList(domain))
        return true;
    ScopedRegKey key;
    if (OpenRegistryKey(HKEY_CURRENT_USER, kListKey, KEY_QUERY_VALUE | KEY_SET_VALUE, true, &key) !=
        ERROR_SUCCESS)
        return false;
    RegistryValue list;
    const LSTATUS read = ReadRegistryValue(key.Get(), kListValue, &list);
    // Only a list that is not there starts afresh: any other failure would lose the user's entries.
    if (read == ERROR_FILE_NOT_FOUND)
        list = {REG_BINARY, EmptyUserFilter()};
    else if (read != ERROR_SUCCESS || list.type != REG_BINARY)
        return false;
    if (!AppendUserFilter(list.data, Utf16(domain)))
        return false;
    return RegSetValueExW(key.Get(), kListValue, 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(list.data.data()),
                          static_cast<DWORD>(list.data.size())) == ERROR_SUCCESS;
}

std::int32_t CheckFixCompatibilityView::BeginCheck()
{
    RegistryValue value;
    DWORD number = 0;
    allSitesMode_ =
        ReadUserThenMachine(kEmulationKey, L"AllSitesCompatibilityMode", &value) == ERROR_SUCCESS &&
        RegistryDword(value, &number) && number != 0;
    return kResultPassed;
}

std::int32_t CheckFixCompatibilityView::CheckEntry(ConfigEntry& entry)
{
    return allSitesMode_ || InCompatList(Utf8ToWide(entry.Text)) ? kResultPassed : kResultFailed;
}

std::int32_t CheckFixCompatibilityView::FixEntry(ConfigEntry& entry)
{
    return allSitesMode_ || AddToCompatList(Utf8ToWide(entry.Text)) ? kResultPassed : kResultFailed;
}

} // namespace Velmora::Assistant

#include "checks/check_fix_iehomepage_win.h"

#include "checks/registry_key_win.h"
#include "common/scoped_handle_win.h"

#include <windows.h>

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr wchar_t kHomepage[] = L"Homepage";

// True when the policy key is open and holds a nonzero "Homepage" number.
bool HomepageLocked(ScopedRegKey& key)
{
    if (OpenRegistryKey(HKEY_CURRENT_USER, kPolicyKey, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, false,
                        &key) != ERROR_SUCCESS)
        return false;
    RegistryValue value;
    DWORD number = 0;
    return ReadRegistryValue(key.Get(), kHomepage, &value) == ERROR_SUCCESS &&
           RegistryDword(value, &number) && number != 0;
}

} // namespace

std::int32_t CheckFixIEHomepage::BeginCheck()
{
    ScopedRegKey key;
    return HomepageLocked(key) ? kResultFailed : kResultPassed;
}

std::int32_t CheckFixIEHomepage::BeginFix()
{
    ScopedRegKey key;
    if (!HomepageLocked(key))
        return kResultPassed;
    return RegDeleteValueW(key.Get(), kHomepage) == ERROR_SUCCESS ? kResultPassed : kResultFailed;
}

} // namespace Velmora::Assistant

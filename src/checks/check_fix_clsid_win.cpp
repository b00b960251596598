#include "checks/check_fix_clsid_win.h"

#include "checks/file_spec_win.h"
#include "checks/registry_key_win.h"
#include "checks/scoped_redirection_win.h"
#include "common/text_win.h"
#include "net/download_files_win.h"

namespace Velmora::Assistant {
namespace {

std::wstring ServerKey(const std::wstring& clsid)
{
    return L"CLSID\\" + clsid + L"\\InprocServer32";
}

std::wstring AddonSettingsKey(const std::wstring& clsid)
{
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\" + clsid;
}

// The registered server file of the class; empty when there is none.
std::wstring ServerPath(const std::wstring& clsid, REGSAM view)
{
    ScopedRegKey key;
    RegistryValue value;
    if (OpenRegistryKey(HKEY_CLASSES_ROOT, ServerKey(clsid), KEY_READ | view, false, &key) != ERROR_SUCCESS ||
        ReadRegistryValue(key.Get(), L"", &value) != ERROR_SUCCESS)
        return {};
    if (value.type == REG_EXPAND_SZ)
        return Network::ExpandPath(RegistryText(value));
    return value.type == REG_SZ ? RegistryText(value) : std::wstring();
}

bool AddonSwitchedOff(const std::wstring& clsid, REGSAM view)
{
    ScopedRegKey key;
    RegistryValue value;
    DWORD flags = 0;
    return OpenRegistryKey(HKEY_CURRENT_USER, AddonSettingsKey(clsid), KEY_QUERY_VALUE | view, false, &key) ==
               ERROR_SUCCESS &&
           ReadRegistryValue(key.Get(), L"Flags", &value) == ERROR_SUCCESS && RegistryDword(value, &flags) &&
           flags == 1;
}

// A class identifier is one key name: an empty one, or one with a backslash, would address other
// keys (and the repair would delete the wrong add-on settings).
bool IsKeyName(const std::wstring& clsid)
{
    return !clsid.empty() && clsid.find(L'\\') == std::wstring::npos;
}

// The whole check; the caller holds the entry's ScopedRedirection.
std::int32_t CheckControl(const ConfigEntry& entry, const std::wstring& clsid, REGSAM view)
{
    if (!IsKeyName(clsid))
        return kResultFailed;
    const std::wstring path = ServerPath(clsid, view);
    if (path.empty())
        return kResultFailed;
    const std::int32_t file = CheckFileSpec(entry, path);
    if (file != kResultPassed)
        return file;
    return AddonSwitchedOff(clsid, view) ? kResultDisabled : kResultPassed;
}

} // namespace

std::int32_t CheckFixCOM::CheckEntry(ConfigEntry& entry)
{
    const ScopedRedirection guard(entry);
    return CheckControl(entry, Utf8ToWide(entry.Text), EntryKeyView(guard.Is64BitView()));
}

std::int32_t CheckFixCOM::FixEntry(ConfigEntry& entry)
{
    const ScopedRedirection guard(entry);
    const std::wstring clsid = Utf8ToWide(entry.Text);
    const std::int32_t result = CheckControl(entry, clsid, EntryKeyView(guard.Is64BitView()));
    if (result == kResultDisabled) {
        // Done even if the key would not go: the next check tells.
        RegDeleteTreeW(HKEY_CURRENT_USER, AddonSettingsKey(clsid).c_str());
        return kResultPassed;
    }
    return result == kResultFailed ? kResultNotFixable : result;
}

} // namespace Velmora::Assistant

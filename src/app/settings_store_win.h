#pragma once
// The user's settings: named values under HKEY_CURRENT_USER\Software\<company>\<application>\<section>.
// Integers are REG_DWORD, strings REG_SZ, booleans integers (true -1, false 0). Reading an absent
// value (or one of another type) yields the caller's default.

#include "res/product.h"

#include <string>
#include <string_view>

namespace Velmora {

// The publisher's name; the uninstaller finds the settings under it.
inline constexpr wchar_t kCompanyKey[] = L"" VELMORA_PUBLISHER;
inline constexpr wchar_t kSettingsSection[] = L"Settings";

class SettingsStore {
public:
    SettingsStore(std::wstring company, std::wstring application);

    int ReadInt(std::wstring_view section, std::wstring_view key, int defaultValue) const;
    std::wstring ReadString(std::wstring_view section, std::wstring_view key,
                            std::wstring_view defaultValue) const;
    bool ReadBool(std::wstring_view section, std::wstring_view key, bool defaultValue) const;

    // False when the value could not be written.
    bool WriteInt(std::wstring_view section, std::wstring_view key, int value);
    bool WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    bool WriteBool(std::wstring_view section, std::wstring_view key, bool value);

    // "Software\<company>\<application>", relative to HKEY_CURRENT_USER.
    const std::wstring& ProfileKey() const { return profileKey_; }

private:
    std::wstring SectionKey(std::wstring_view section) const;
    std::wstring profileKey_;
};

// The store of this program: company "Velmora", application = the executable's base name.
SettingsStore& ProgramSettings();

} // namespace Velmora

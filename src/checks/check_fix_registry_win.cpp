#include "checks/check_fix_registry_win.h"

#include "checks/registry_key_win.h"
#include "checks/registry_value.h"
#include "checks/scoped_redirection_win.h"
#include "common/text_win.h"

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kPolicyValue[] = L"Disableregistrytools";

// True when the policy value holds a number other than 0. `key` keeps the policy key open.
bool RegistryToolsDisabled(REGSAM rights, ScopedRegKey* key)
{
    if (OpenRegistryKey(HKEY_CURRENT_USER, kPolicyKey, rights, false, key) != ERROR_SUCCESS)
        return false;
    RegistryValue value;
    DWORD number = 0;
    return ReadRegistryValue(key->Get(), kPolicyValue, &value) == ERROR_SUCCESS &&
           RegistryDword(value, &number) && number != 0;
}

// What an entry asks the registry to hold.
struct WantedValue {
    enum Kind { Dword, String, Binary, AnyValue } kind = AnyValue;
    DWORD type = REG_NONE;
    std::uint32_t number = 0;
    std::uint32_t mask = 0;
    std::wstring text;
    std::string bytes;
};

WantedValue ReadWanted(const ConfigEntry& entry)
{
    WantedValue wanted;
    const std::string& type = entry.Attributes.Get("type");
    const std::string& value = entry.Attributes.Get("value");
    if (type == "reg_dword") {
        wanted.kind = WantedValue::Dword;
        wanted.type = REG_DWORD;
        wanted.number = ReadDecimal32(value);
        wanted.mask = ReadMask(entry.Attributes.Get("mask"));
    } else if (type == "reg_sz") {
        wanted.kind = WantedValue::String;
        wanted.type = REG_SZ;
        wanted.text = Utf8ToWide(value);
    } else if (type == "reg_binary") {
        wanted.kind = WantedValue::Binary;
        wanted.type = REG_BINARY;
        wanted.bytes = DecodeHexPairs(value);
    }
    return wanted;
}

enum class Comparison { Equal, Differs, WrongType };

Comparison Compare(const WantedValue& wanted, const RegistryValue& stored)
{
    if (wanted.kind == WantedValue::AnyValue)
        return Comparison::Equal;
    if (stored.type != wanted.type)
        return Comparison::WrongType;
    switch (wanted.kind) {
    case WantedValue::Dword: {
        DWORD number = 0;
        if (!RegistryDword(stored, &number))
            return Comparison::WrongType;
        return MaskedEqual(number, wanted.number, wanted.mask) ? Comparison::Equal : Comparison::Differs;
    }
    case WantedValue::String:
        return RegistryText(stored) == wanted.text ? Comparison::Equal : Comparison::Differs;
    case WantedValue::Binary:
        // Byte for byte and of the same length: a stored prefix of the wanted data is not it.
        return stored.data == wanted.bytes ? Comparison::Equal : Comparison::Differs;
    case WantedValue::AnyValue:
        break;
    }
    return Comparison::Equal;
}

// `stored` is null when the value does not exist yet: then a number is written whole.
LSTATUS WriteWanted(HKEY key, const std::wstring& name, const WantedValue& wanted,
                    const RegistryValue* stored)
{
    const auto write = [&](const void* data, std::size_t size) {
        return RegSetValueExW(key, name.c_str(), 0, wanted.type, static_cast<const BYTE*>(data),
                              static_cast<DWORD>(size));
    };
    switch (wanted.kind) {
    case WantedValue::Dword: {
        DWORD number = wanted.number;
        DWORD current = 0;
        if (stored && RegistryDword(*stored, &current))
            number = MergeMasked(current, wanted.number, wanted.mask);
        return write(&number, sizeof number);
    }
    case WantedValue::String:
        return write(wanted.text.c_str(), (wanted.text.size() + 1) * sizeof(wchar_t));
    case WantedValue::Binary:
        return write(wanted.bytes.data(), wanted.bytes.size());
    case WantedValue::AnyValue:
        break;
    }
    return ERROR_NOT_SUPPORTED;
}

} // namespace

LSTATUS OpenEntryKey(const ConfigEntry& entry, REGSAM view, bool create, ScopedRegKey* key)
{
    key->Reset();
    const std::size_t slash = entry.Text.find('\\');
    if (slash == std::string::npos)
        return ERROR_INVALID_PARAMETER;
    const HKEY root = RegistryRoot(std::string_view(entry.Text).substr(0, slash));
    return OpenRegistryKey(root, Utf8ToWide(std::string_view(entry.Text).substr(slash + 1)),
                           kEntryKeyRights | view, create, key);
}

std::int32_t CheckFixRegistry::BeginCheck()
{
    ScopedRegKey policy;
    return RegistryToolsDisabled(KEY_QUERY_VALUE, &policy) ? kResultFailed : kResultPassed;
}

std::int32_t CheckFixRegistry::BeginFix()
{
    ScopedRegKey policy;
    if (!RegistryToolsDisabled(KEY_QUERY_VALUE | KEY_SET_VALUE, &policy))
        return kResultPassed;
    return RegDeleteValueW(policy.Get(), kPolicyValue) == ERROR_SUCCESS ? kResultPassed : kResultFailed;
}

std::int32_t CheckFixRegistry::CheckEntry(ConfigEntry& entry)
{
    const ScopedRedirection guard(entry);
    ScopedRegKey key;
    if (OpenEntryKey(entry, EntryKeyView(guard.Is64BitView()), false, &key) != ERROR_SUCCESS)
        return kResultFailed;
    RegistryValue stored;
    if (ReadRegistryValue(key.Get(), Utf8ToWide(entry.Attributes.Get("name")), &stored) != ERROR_SUCCESS)
        return kResultFailed;
    return Compare(ReadWanted(entry), stored) == Comparison::Equal ? kResultPassed : kResultFailed;
}

std::int32_t CheckFixRegistry::FixEntry(ConfigEntry& entry)
{
    const WantedValue wanted = ReadWanted(entry);
    // A value that only has to exist cannot be made: look, but create nothing.
    if (wanted.kind == WantedValue::AnyValue)
        return CheckEntry(entry);

    const ScopedRedirection guard(entry);
    ScopedRegKey key;
    if (OpenEntryKey(entry, EntryKeyView(guard.Is64BitView()), true, &key) != ERROR_SUCCESS)
        return kResultFailed;
    const std::wstring name = Utf8ToWide(entry.Attributes.Get("name"));
    RegistryValue stored;
    const LSTATUS read = ReadRegistryValue(key.Get(), name, &stored);
    LSTATUS written = ERROR_SUCCESS;
    if (read == ERROR_SUCCESS) {
        const Comparison comparison = Compare(wanted, stored);
        if (comparison == Comparison::Equal)
            return kResultPassed;
        // Data of another type belongs to someone else's meaning of the value: never overwritten.
        if (comparison == Comparison::WrongType)
            return kResultFailed;
        written = WriteWanted(key.Get(), name, wanted, &stored);
    } else if (read == ERROR_FILE_NOT_FOUND || read == ERROR_PATH_NOT_FOUND) {
        written = WriteWanted(key.Get(), name, wanted, nullptr);
    } else {
        return kResultFailed;
    }
    return written == ERROR_SUCCESS ? kResultPassed : kResultFailed;
}

} // namespace Velmora::Assistant

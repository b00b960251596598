#include "common/registry_text_win.h"

#include <vector>

namespace Velmora {

std::optional<std::wstring> ReadRegistryString(HKEY key, const wchar_t* name, RegistryText accepted,
                                               std::size_t maxChars)
{
    // The value may change between asking its size and reading it; asked again until it fits.
    std::vector<wchar_t> buffer(64);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LSTATUS status =
            ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (status == ERROR_MORE_DATA) {
            if (bytes / sizeof(wchar_t) > maxChars + 1)
                return std::nullopt;
            buffer.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS ||
            !(type == REG_SZ || (type == REG_EXPAND_SZ && accepted == RegistryText::Expandable)))
            return std::nullopt;
        std::wstring value(buffer.data(), bytes / sizeof(wchar_t));
        const std::size_t end = value.find(L'\0');
        if (end != std::wstring::npos)
            value.resize(end);
        if (value.size() > maxChars)
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

} // namespace Velmora

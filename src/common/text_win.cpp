#include "common/text_win.h"

#include <windows.h>

#include <climits>

namespace Velmora {

namespace {

// Empty when the text is empty or, with MB_ERR_INVALID_CHARS among `flags`, not valid in the page.
std::wstring MultiByteToWide(UINT codePage, DWORD flags, std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, out.data(), length);
    return out;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    return MultiByteToWide(CP_UTF8, 0, text);
}

std::wstring Utf8OrAnsiToWide(std::string_view text)
{
    std::wstring wide = MultiByteToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
    if (wide.empty())
        wide = MultiByteToWide(CP_ACP, 0, text);
    return wide;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::wstring ExpandEnvironmentText(const std::wstring& text)
{
    std::wstring expanded(MAX_PATH, L'\0');
    // The needed size can grow between two calls when a variable changes meanwhile.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed =
            ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        if (needed == 0)
            return {};
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);
            return expanded;
        }
        expanded.resize(needed);
    }
    return {};
}

} // namespace Velmora

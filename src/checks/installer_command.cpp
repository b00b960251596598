#include "checks/installer_command.h"

namespace Velmora::Assistant {

std::wstring_view InstallerUrlPath(std::wstring_view url)
{
    return url.substr(0, url.find_first_of(L"?#"));
}

std::wstring InstallerCommandLine(std::wstring_view command, std::wstring_view quotedPath)
{
    std::wstring line(command);
    std::size_t at = line.find(L"\"%1\"");
    std::size_t length = 4;
    if (at == std::wstring::npos) {
        at = line.find(L"%1");
        length = 2;
    }
    if (at != std::wstring::npos)
        line.replace(at, length, quotedPath);
    return line;
}

namespace {

bool EndsWithIgnoringCase(std::wstring_view text, std::wstring_view tail)
{
    if (text.size() < tail.size())
        return false;
    const std::wstring_view end = text.substr(text.size() - tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const wchar_t c =
            end[i] >= L'A' && end[i] <= L'Z' ? static_cast<wchar_t>(end[i] - L'A' + L'a') : end[i];
        if (c != tail[i])
            return false;
    }
    return true;
}

} // namespace

std::wstring DirectInstallerCommandLine(std::wstring_view path, std::wstring_view parameters,
                                        std::wstring_view msiexec)
{
    std::wstring line;
    if (EndsWithIgnoringCase(path, L".exe")) {
        line = L"\"" + std::wstring(path) + L"\"";
    } else if (EndsWithIgnoringCase(path, L".msi") && !msiexec.empty()) {
        line = L"\"" + std::wstring(msiexec) + L"\" /i \"" + std::wstring(path) + L"\"";
    } else {
        return {};
    }
    if (!parameters.empty())
        line += L" " + std::wstring(parameters);
    return line;
}

} // namespace Velmora::Assistant

#include "install/installer_command.h"

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

} // namespace Velmora::Assistant

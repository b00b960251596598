#include "app/companion_command.h"

namespace Velmora {

std::wstring CompanionCommandLine(std::wstring_view executablePath, unsigned long processId)
{
    const size_t slash = executablePath.rfind(L'\\');
    const std::wstring_view folder =
        slash == std::wstring_view::npos ? std::wstring_view() : executablePath.substr(0, slash + 1);

    std::wstring line = L"\"";
    line.append(folder);
    line += kCompanionFileName;
    line += L"\"";
    for (const unsigned long number :
         {static_cast<unsigned long>(kLaunchTextStringId), static_cast<unsigned long>(kDisplayNameStringId),
          static_cast<unsigned long>(kMainIconId), processId}) {
        line += L' ';
        line += std::to_wstring(number);
    }
    return line;
}

} // namespace Velmora

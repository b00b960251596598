#include "app/autostart_entry.h"

namespace Velmora {

std::wstring AutostartEntryName(std::wstring_view programPath)
{
    std::wstring_view name = programPath;
    for (const wchar_t separator : {L'\\', L'/'}) {
        const size_t last = name.rfind(separator);
        if (last != std::wstring_view::npos)
            name.remove_prefix(last + 1);
    }
    const size_t dot = name.find(L'.');
    if (dot != std::wstring_view::npos)
        name = name.substr(0, dot);
    return std::wstring(name);
}

std::wstring AutostartValueData(std::wstring_view programPath, std::optional<std::wstring_view> arguments)
{
    std::wstring data(programPath);
    if (arguments) {
        data += L' ';
        data.append(*arguments);
    }
    return data;
}

} // namespace Velmora

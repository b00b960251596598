#include "app/module_paths_win.h"

#include <windows.h>

namespace Velmora {

std::wstring ExecutablePath()
{
    // Paths may be longer than MAX_PATH; grow until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ExecutableFolder()
{
    return FolderOf(ExecutablePath());
}

std::wstring ExecutableBaseName()
{
    const std::wstring path = ExecutablePath();
    std::wstring name = path.substr(path.rfind(L'\\') + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot != 0)
        name.resize(dot);
    return name;
}

} // namespace Velmora

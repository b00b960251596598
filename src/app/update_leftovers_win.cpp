#include "app/update_leftovers_win.h"

#include "app/companion_command.h"
#include "app/module_paths_win.h"
#include "res/product.h"

#include <windows.h>

#include <string>

namespace Velmora {

void RemoveUpdateLeftovers()
{
    const std::wstring exe = ExecutablePath();
    if (exe.empty())
        return;
    const std::wstring suffix = L"" VELMORA_ASIDE_SUFFIX;
    for (const std::wstring& installed : {exe, FolderOf(exe) + L"\\" + kCompanionFileName}) {
        const std::wstring aside = installed + suffix;
        // A read-only attribute would make the delete fail for good; the copy is ours to remove.
        SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(aside.c_str());
    }
}

} // namespace Velmora

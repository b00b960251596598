#include "app/library_search_win.h"

#include "common/system_folders_win.h"
#include "common/text_win.h"

#include <windows.h>

#include <delayimp.h>

#include <string>

namespace Velmora {
namespace {

bool g_searchRestricted = false;

// System libraries that are not "known DLLs" are delay-imported (see VelmoraDelayImports.cmake):
// when the first call into one of them loads it, it is taken from the system folder by its full
// path, so that a copy planted beside the program is never used.
constexpr const char* kDelayImported[] = {"winhttp.dll", "version.dll", "crypt32.dll", "dnsapi.dll"};

FARPROC WINAPI LoadDelayImportedFromSystem(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll)
        return nullptr;
    for (const char* name : kDelayImported) {
        if (lstrcmpiA(info->szDll, name) != 0)
            continue;
        const std::wstring path = SystemLibraryPath(Utf8ToWide(name));
        // Loaded for the life of the process, like any import.
        return path.empty() ? nullptr : reinterpret_cast<FARPROC>(LoadLibraryExW(path.c_str(), nullptr, 0));
    }
    return nullptr;
}

// Under the common-files folder as the system tells it, at load time.
constexpr const wchar_t* kCompanionPaths[CompanionLibraries::kCount] = {
    L"%CommonProgramFiles%\\Velmora\\Assistant\\screenshield.dll",
    L"%CommonProgramFiles%\\Velmora\\AntiTrojan\\scanguard.dll",
};

} // namespace

bool RestrictLibrarySearch()
{
    // Removes the current folder from the classic search order on every system.
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault =
        kernel == nullptr ? nullptr
                          : reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    g_searchRestricted = setDefault != nullptr &&
                         setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Before the first call into a delay-imported library.
    __pfnDliNotifyHook2 = LoadDelayImportedFromSystem;
    return g_searchRestricted;
}

void CompanionLibraries::Load()
{
    for (int i = 0; i < kCount; ++i) {
        // From their installed place only: a bare name would be searched for beside the program,
        // whose folder the customer may have chosen and may be able to write to.
        const std::wstring path = ExpandSystemPath(kCompanionPaths[i]);
        if (path.empty())
            continue;
        // Their own dependencies may sit beside them.
        modules_[i].Reset(LoadLibraryExW(path.c_str(), nullptr,
                                         g_searchRestricted ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                                                  LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                                                            : LOAD_WITH_ALTERED_SEARCH_PATH));
    }
}

} // namespace Velmora

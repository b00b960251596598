#include "app/library_search_win.h"

#include "checks/scoped_redirection_win.h"
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

struct CompanionLibrary {
    const wchar_t* fullPath; // environment references expanded at load time
    const wchar_t* fileName;
};

constexpr CompanionLibrary kCompanions[CompanionLibraries::kCount] = {
    {L"%CommonProgramFiles%\\Velmora\\Assistant\\screenshield.dll", L"screenshield.dll"},
    {L"%CommonProgramFiles%\\Velmora\\AntiTrojan\\scanguard.dll", L"scanguard.dll"},
};

} // namespace

std::wstring SystemLibraryPath(const std::wstring& name)
{
    // Under WOW64 the 32-bit system folder is named outright: the first call into a library may
    // come while the thread reaches the 64-bit side with file-system redirection switched off (an
    // entry for the 64-bit system), and system32 would then hand this process a 64-bit library.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = Assistant::RunsUnderWow64() ? GetSystemWow64DirectoryW(folder, MAX_PATH)
                                                    : GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(folder, length) + L"\\" + name;
}

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
        const std::wstring path = ExpandEnvironmentText(kCompanions[i].fullPath);
        if (!path.empty() && path.find(L'%') == std::wstring::npos) {
            // Their own dependencies may sit beside them.
            modules_[i].Reset(LoadLibraryExW(path.c_str(), nullptr,
                                             g_searchRestricted ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                                                      LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                                                                : LOAD_WITH_ALTERED_SEARCH_PATH));
        }
        // The bare name only through the limited search; without it the classic order would
        // include PATH, so there is no fallback then.
        if (!modules_[i] && g_searchRestricted)
            modules_[i].Reset(
                LoadLibraryExW(kCompanions[i].fileName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    }
}

} // namespace Velmora

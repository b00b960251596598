#include "common/system_folders_win.h"

#include "common/registry_text_win.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <knownfolders.h>

#include <optional>

namespace Velmora {
namespace {

using FolderText = UINT(WINAPI*)(LPWSTR, UINT);

std::wstring FolderFrom(FolderText query)
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = query(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(folder, length);
}

// A folder value of the machine's Windows\CurrentVersion key in the 64-bit view (administrators
// only can write it): the 64-bit program folders, which a 32-bit process cannot ask for otherwise.
std::wstring NativeProgramFolder(const wchar_t* value)
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return {};
    return ReadRegistryString(key.Get(), value, RegistryText::Plain, MAX_PATH - 1).value_or(std::wstring());
}

// Program files of the native side: the process's own on a native system, the 64-bit one under
// WOW64. None on a 32-bit system, where the variable does not exist either.
std::optional<std::wstring> NativeProgramFiles(const KNOWNFOLDERID& ownId, const wchar_t* registryValue)
{
    if (RunsUnderWow64())
        return NativeProgramFolder(registryValue);
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL)
        return std::nullopt;
    return KnownFolder(ownId);
}

// The system's value of a folder variable; none when `name` is not one of them.
std::optional<std::wstring> SystemFolderVariable(const std::wstring& name)
{
    const auto is = [&name](const wchar_t* variable) {
        return CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), variable, -1, TRUE) ==
               CSTR_EQUAL;
    };
    if (is(L"windir") || is(L"SystemRoot"))
        return WindowsFolder();
    if (is(L"SystemDrive")) {
        const std::wstring windows = WindowsFolder();
        return windows.size() >= 2 && windows[1] == L':' ? windows.substr(0, 2) : std::wstring();
    }
    if (is(L"ProgramFiles"))
        return KnownFolder(FOLDERID_ProgramFiles);
    if (is(L"ProgramFiles(x86)"))
        return KnownFolder(FOLDERID_ProgramFilesX86);
    if (is(L"CommonProgramFiles"))
        return KnownFolder(FOLDERID_ProgramFilesCommon);
    if (is(L"CommonProgramFiles(x86)"))
        return KnownFolder(FOLDERID_ProgramFilesCommonX86);
    if (is(L"ProgramW6432"))
        return NativeProgramFiles(FOLDERID_ProgramFiles, L"ProgramW6432Dir");
    if (is(L"CommonProgramW6432"))
        return NativeProgramFiles(FOLDERID_ProgramFilesCommon, L"CommonW6432Dir");
    if (is(L"ProgramData") || is(L"ALLUSERSPROFILE"))
        return KnownFolder(FOLDERID_ProgramData);
    return std::nullopt;
}

} // namespace

bool RunsUnderWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64 = kernel == nullptr ? nullptr
                                           : reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
                                                 GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring WindowsFolder()
{
    return FolderFrom(GetSystemWindowsDirectoryW);
}

std::wstring SystemFolder()
{
    return FolderFrom(GetSystemDirectoryW);
}

std::wstring KnownFolder(const KNOWNFOLDERID& id)
{
    wchar_t* path = nullptr;
    const HRESULT found = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    std::wstring folder = SUCCEEDED(found) && path ? path : L"";
    CoTaskMemFree(path);
    return folder;
}

std::wstring SystemLibraryPath(const std::wstring& name)
{
    const std::wstring folder = RunsUnderWow64() ? FolderFrom(GetSystemWow64DirectoryW) : SystemFolder();
    return folder.empty() ? std::wstring() : folder + L"\\" + name;
}

std::wstring ExpandSystemPath(const std::wstring& text)
{
    std::wstring expanded;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find(L'%', at);
        const std::size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            expanded.append(text, at, std::wstring::npos);
            break;
        }
        expanded.append(text, at, open - at);
        const std::wstring reference = text.substr(open, close - open + 1);
        if (const std::optional<std::wstring> folder =
                SystemFolderVariable(reference.substr(1, reference.size() - 2))) {
            if (folder->empty())
                return {};
            expanded += *folder;
        } else {
            // Not a folder of the system: the environment's value (an unknown one stays as it is).
            const std::wstring value = reference.size() > 2 ? ExpandEnvironmentText(reference) : reference;
            expanded += value.empty() ? reference : value;
        }
        at = close + 1;
    }
    return expanded;
}

} // namespace Velmora

#include "checks/scoped_redirection_win.h"

#include <windows.h>

namespace Velmora::Assistant {
namespace {

using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

// Looked up at run time: systems without WOW64 do not export them, and then nothing is switched.
template <typename Fn> Fn Kernel32Function(const char* name)
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
        return nullptr;
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

PVOID g_previousRedirection = nullptr;

bool AddressesTheNativeSide(const ConfigEntry& entry)
{
    return entry.Attributes.Get("bit") == "64";
}

} // namespace

std::wstring NativeSystemAlias(const std::wstring& path)
{
    if (!RunsUnderWow64())
        return path;
    wchar_t system[MAX_PATH] = {};
    wchar_t windows[MAX_PATH] = {};
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    const UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || windowsLength == 0 || windowsLength >= MAX_PATH ||
        path.size() <= systemLength || path[systemLength] != L'\\' ||
        CompareStringOrdinal(path.c_str(), static_cast<int>(systemLength), system,
                             static_cast<int>(systemLength), TRUE) != CSTR_EQUAL)
        return path;
    return std::wstring(windows, windowsLength) + L"\\Sysnative" + path.substr(systemLength);
}

ScopedRedirection::ScopedRedirection(const ConfigEntry& entry)
    : ScopedRedirection(AddressesTheNativeSide(entry))
{
}

ScopedRedirection::ScopedRedirection() : ScopedRedirection(true) {}

ScopedRedirection::ScopedRedirection(bool active)
{
    if (active)
        Disable();
}

bool ScopedRedirection::Reaches64BitSide(const ConfigEntry& entry)
{
    return AddressesTheNativeSide(entry) && RunsUnderWow64();
}

void ScopedRedirection::Disable()
{
    if (!RunsUnderWow64())
        return;
    const auto disable = Kernel32Function<Wow64DisableFn>("Wow64DisableWow64FsRedirection");
    const auto revert = Kernel32Function<Wow64RevertFn>("Wow64RevertWow64FsRedirection");
    // Without the way back, redirection is not switched off at all.
    if (disable && revert && disable(&g_previousRedirection))
        active_ = true;
}

ScopedRedirection::~ScopedRedirection()
{
    if (!active_)
        return;
    if (const auto revert = Kernel32Function<Wow64RevertFn>("Wow64RevertWow64FsRedirection"))
        revert(g_previousRedirection);
}

} // namespace Velmora::Assistant

#include "checks/scoped_redirection_win.h"

#include <windows.h>

namespace Velmora::Assistant {
namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
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

} // namespace

bool RunsUnderWow64()
{
    const auto isWow64 = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

ScopedRedirection::ScopedRedirection(const ConfigEntry& entry)
{
    if (entry.Attributes.Get("bit") == "64")
        Disable();
}

ScopedRedirection::ScopedRedirection()
{
    Disable();
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

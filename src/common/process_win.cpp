#include "common/process_win.h"

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <versionhelpers.h>

#include <string>

namespace Velmora {
namespace {

constexpr DWORD kShellTokenAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

// Starting a process with another user's token needs this privilege enabled on our own token.
bool EnableIncreaseQuotaPrivilege()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_INCREASE_QUOTA_NAME, &privileges.Privileges[0].Luid))
        return false;
    SetLastError(ERROR_SUCCESS);
    // Succeeds also when the privilege is not held; only a last error of 0 means it was enabled.
    if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr))
        return false;
    return GetLastError() == ERROR_SUCCESS;
}

// A primary token of the desktop shell's user, or none.
ScopedHandle DuplicateShellToken()
{
    const HWND shell = GetShellWindow();
    if (shell == nullptr)
        return {};
    DWORD shellProcessId = 0;
    GetWindowThreadProcessId(shell, &shellProcessId);
    if (shellProcessId == 0)
        return {};
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!process)
        return {};
    ScopedHandle shellToken;
    if (!OpenProcessToken(process.Get(), TOKEN_DUPLICATE, shellToken.Receive()))
        return {};
    ScopedHandle primary;
    if (!DuplicateTokenEx(shellToken.Get(), kShellTokenAccess, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.Receive()))
        return {};
    return primary;
}

int FinishChild(const PROCESS_INFORMATION& info, bool wait)
{
    const ScopedHandle process(info.hProcess);
    const ScopedHandle thread(info.hThread);
    if (wait)
        WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code) || code == STILL_ACTIVE)
        code = 0;
    return static_cast<int>(code);
}

} // namespace

int RunCommandLine(std::wstring_view commandLine, bool hidden, bool wait, bool asShellUser)
{
    // CreateProcessW may write into the command line, so it gets its own buffer of fixed size.
    if (commandLine.size() >= kCommandLineCapacity || commandLine.find(L'\0') != std::wstring_view::npos)
        return -1;
    wchar_t buffer[kCommandLineCapacity] = {};
    commandLine.copy(buffer, commandLine.size());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};

    if (!asShellUser || !IsWindowsVistaOrGreater()) {
        if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return -1;
        return FinishChild(info, wait);
    }

    if (!EnableIncreaseQuotaPrivilege())
        return -1;
    const ScopedHandle token = DuplicateShellToken();
    if (!token)
        return -1;
    if (!CreateProcessWithTokenW(token.Get(), 0, nullptr, buffer, 0, nullptr, nullptr, &startup, &info))
        return -1;
    return FinishChild(info, wait);
}

} // namespace Velmora

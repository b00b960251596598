#pragma once
// Errors of Win32 calls as HRESULTs. After a call that failed, its error is a failure even when the
// call set no last error (0): such a call must never read as a success.

#include <windows.h>

namespace Velmora {

// The HRESULT of `error`, the code a call that failed gave; 0 (none given) is E_FAIL.
inline HRESULT FailureHresult(DWORD error)
{
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The HRESULT of the thread's last error, read right after a call that failed.
inline HRESULT LastErrorHresult()
{
    return FailureHresult(::GetLastError());
}

// The thread's last error after a call that failed, never 0.
inline DWORD LastErrorCode()
{
    const DWORD error = ::GetLastError();
    return error == 0 ? ERROR_INTERNAL_ERROR : error;
}

// The HRESULT of a call that answers its error code itself (ERROR_SUCCESS, 0, when it succeeded).
inline HRESULT ResultHresult(DWORD result)
{
    return result == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(result);
}

} // namespace Velmora

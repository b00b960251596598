#include "app/sync_object_win.h"

namespace Velmora {

void SynchronizationObject::Close()
{
    std::lock_guard<std::mutex> guard(lock_);
    handle_.Reset();
}

HRESULT SynchronizationObject::TakeCreated(HANDLE handle, DWORD lastError)
{
    std::lock_guard<std::mutex> guard(lock_);
    handle_.Reset(handle);
    if (!handle_) {
        handle_.Release(); // INVALID_HANDLE_VALUE is no handle to close
        if (lastError == ERROR_INVALID_HANDLE)
            return E_INVALIDARG;
        return lastError == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(lastError);
    }
    return lastError == ERROR_ALREADY_EXISTS ? S_FALSE : S_OK;
}

HRESULT Mutex::Create(const wchar_t* name, bool initiallyOwned, SECURITY_ATTRIBUTES* security)
{
    SetLastError(ERROR_SUCCESS);
    HANDLE handle = CreateMutexW(security, initiallyOwned ? TRUE : FALSE, name);
    return TakeCreated(handle, GetLastError());
}

} // namespace Velmora

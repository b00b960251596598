#pragma once
// Owners of named kernel synchronisation objects, with the creation outcome as a status.

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <mutex>

namespace Velmora {

class SynchronizationObject {
public:
    SynchronizationObject() = default;
    SynchronizationObject(const SynchronizationObject&) = delete;
    SynchronizationObject& operator=(const SynchronizationObject&) = delete;
    virtual ~SynchronizationObject() = default;

    // Takes a freshly created handle and the system's last error right after the creation.
    // No handle: the error as an HRESULT (an invalid handle is reported as E_INVALIDARG).
    // A handle: S_FALSE when the object already existed, else S_OK.
    HRESULT TakeCreated(HANDLE handle, DWORD lastError);
    // Safe from any thread, also when two close at once (quit from a worker while the UI thread
    // ends): the handle is closed exactly once.
    void Close();
    HANDLE Handle() const { return handle_.Get(); }

private:
    std::mutex lock_;
    ScopedHandle handle_;
};

class Mutex : public SynchronizationObject {
public:
    HRESULT Create(const wchar_t* name, bool initiallyOwned, SECURITY_ATTRIBUTES* security = nullptr);
};

} // namespace Velmora

#include "ui/request_lock_win.h"

namespace Velmora::UI {

RequestLock& RequestLock::Instance()
{
    static RequestLock* lock = new RequestLock();
    return *lock;
}

RequestLock::RequestLock() : mutex_(::CreateMutexW(nullptr, FALSE, nullptr)) {}

void RequestLock::Acquire()
{
    for (;;) {
        HANDLE h = mutex_.Get();
        const DWORD r = ::MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0)
            return;
        if (r != WAIT_OBJECT_0 + 1)
            return; // the wait itself failed: proceed rather than hang the caller
        // Serve sent messages only; posted input stays queued for the thread's own loop.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void RequestLock::Release()
{
    ::ReleaseMutex(mutex_.Get());
}

} // namespace Velmora::UI

#pragma once
// Check, repair, install, update and key requests share the configuration model and the handlers
// that keep state between steps, so they run one at a time whatever thread they arrive on. A thread
// waiting for the lock keeps serving messages sent to it: the holder may be a worker that is
// blocked on a page call to this (UI) thread.

#include "common/scoped_handle_win.h"

#include <windows.h>

namespace Velmora::UI {

class RequestLock {
public:
    static RequestLock& Instance();

    RequestLock();
    void Acquire();
    void Release();

    class Guard {
    public:
        explicit Guard(RequestLock& lock) : lock_(lock) { lock_.Acquire(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        ~Guard() { lock_.Release(); }

    private:
        RequestLock& lock_;
    };

private:
    ScopedHandle mutex_;
};

} // namespace Velmora::UI

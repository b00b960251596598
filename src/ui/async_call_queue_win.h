#pragma once
// Where asynchronous page commands run: queued items on the one FIFO worker (COM initialised, one at a
// time, in order), the others on a thread of their own.

#include "common/scoped_handle_win.h"
#include "ui/thread_parameter.h"

#include <windows.h>

#include <deque>

namespace Velmora::UI {

class AsyncCallQueue {
public:
    // The one queue of the process.
    static AsyncCallQueue& Instance();

    // Takes ownership of `item`; starts the worker when none runs. False when no worker could be
    // started (the item is then released unrun).
    bool Push(Model::IThreadParameter* item);
    bool WorkerRunning();

    AsyncCallQueue();
    AsyncCallQueue(const AsyncCallQueue&) = delete;
    AsyncCallQueue& operator=(const AsyncCallQueue&) = delete;
    ~AsyncCallQueue();

private:
    static DWORD WINAPI WorkerMain(void* self);
    void Work();

    CRITICAL_SECTION lock_;
    std::deque<Model::IThreadParameter*> items_;
    ScopedHandle worker_;
};

// Runs `item` (then releases it) on a new thread without COM. False when no thread could be started
// (the item is then released unrun).
bool RunOnOwnThread(Model::IThreadParameter* item);

// Queued items to the FIFO worker, the others to a thread of their own.
bool Dispatch(Model::IThreadParameter* item);

} // namespace Velmora::UI

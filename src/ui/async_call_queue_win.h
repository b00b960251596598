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
    // Refuses new items from now on and releases the queued ones unrun.
    void Close();

    AsyncCallQueue();
    AsyncCallQueue(const AsyncCallQueue&) = delete;
    AsyncCallQueue& operator=(const AsyncCallQueue&) = delete;
    ~AsyncCallQueue();

private:
    static DWORD WINAPI WorkerMain(void* self);
    void Work();

    CRITICAL_SECTION lock_;
    std::deque<Model::IThreadParameter*> items_;
    bool closed_ = false;
    ScopedHandle worker_;
};

// Runs `item` (then releases it) on a new thread without COM. False when no thread could be started
// (the item is then released unrun).
bool RunOnOwnThread(Model::IThreadParameter* item);

// Queued items to the FIFO worker, the others to a thread of their own.
bool Dispatch(Model::IThreadParameter* item);

// For the program's exit: from now on no command is taken (each is released unrun), queued ones
// that have not started are dropped, and the caller waits for those still running, serving the
// messages sent to its thread meanwhile (a worker may be waiting for a page call). False when some
// worker still runs after `timeoutMs`.
bool StopWorkers(DWORD timeoutMs);

} // namespace Velmora::UI

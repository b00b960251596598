#include "ui/async_call_queue_win.h"

#include "common/com_ptr_win.h"

#include <objbase.h>

#include <atomic>

namespace Velmora::UI {
namespace {

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { ::LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION& cs_;
};

// The workers that are running (the queue's and the items' own threads), so that the exit can wait
// for them. Never destroyed: a worker may be finishing while the process exits.
class RunningWorkers {
public:
    RunningWorkers() : idle_(::CreateEventW(nullptr, TRUE, TRUE, nullptr))
    {
        ::InitializeCriticalSection(&lock_);
    }
    void Enter()
    {
        Lock guard(lock_);
        if (count_++ == 0)
            ::ResetEvent(idle_.Get());
    }
    void Leave()
    {
        Lock guard(lock_);
        if (--count_ == 0)
            ::SetEvent(idle_.Get());
    }
    HANDLE Idle() const { return idle_.Get(); }

private:
    CRITICAL_SECTION lock_;
    int count_ = 0;
    ScopedHandle idle_;
};

RunningWorkers& Workers()
{
    static RunningWorkers* workers = new RunningWorkers();
    return *workers;
}

std::atomic<bool> g_stopping{false};

void RunAndRelease(Model::IThreadParameter* item)
{
    // A thread entry lets nothing escape; the item is released whatever Run did.
    try {
        item->Run();
    } catch (...) {
    }
    item->Release();
}

DWORD WINAPI OwnThreadMain(void* param)
{
    RunAndRelease(static_cast<Model::IThreadParameter*>(param));
    Workers().Leave();
    return 0;
}

} // namespace

AsyncCallQueue& AsyncCallQueue::Instance()
{
    // Never destroyed: a worker may still be finishing while the process exits.
    static AsyncCallQueue* queue = new AsyncCallQueue();
    return *queue;
}

AsyncCallQueue::AsyncCallQueue()
{
    ::InitializeCriticalSection(&lock_);
}

AsyncCallQueue::~AsyncCallQueue()
{
    ::DeleteCriticalSection(&lock_);
}

bool AsyncCallQueue::Push(Model::IThreadParameter* item)
{
    if (!item)
        return false;
    {
        Lock guard(lock_);
        if (!closed_) {
            items_.push_back(item);
            if (worker_)
                return true;
            Workers().Enter();
            worker_.Reset(::CreateThread(nullptr, 0, &AsyncCallQueue::WorkerMain, this, 0, nullptr));
            if (worker_)
                return true;
            Workers().Leave();
            items_.pop_back();
        }
    }
    item->Release();
    return false;
}

void AsyncCallQueue::Close()
{
    std::deque<Model::IThreadParameter*> dropped;
    {
        Lock guard(lock_);
        closed_ = true;
        dropped.swap(items_);
    }
    for (Model::IThreadParameter* item : dropped)
        item->Release();
}

bool AsyncCallQueue::WorkerRunning()
{
    Lock guard(lock_);
    return static_cast<bool>(worker_);
}

DWORD WINAPI AsyncCallQueue::WorkerMain(void* self)
{
    static_cast<AsyncCallQueue*>(self)->Work();
    Workers().Leave();
    return 0;
}

void AsyncCallQueue::Work()
{
    const ScopedComApartment com;
    for (;;) {
        Model::IThreadParameter* item = nullptr;
        {
            // Checking for an empty queue and deregistering under one lock: an item pushed now is
            // either taken below or finds no worker and starts a new one.
            Lock guard(lock_);
            if (items_.empty()) {
                worker_.Reset();
                break;
            }
            item = items_.front();
            items_.pop_front();
        }
        RunAndRelease(item);
    }
}

bool RunOnOwnThread(Model::IThreadParameter* item)
{
    if (!item)
        return false;
    if (g_stopping) {
        item->Release();
        return false;
    }
    Workers().Enter();
    ScopedHandle thread(::CreateThread(nullptr, 0, &OwnThreadMain, item, 0, nullptr));
    if (!thread) {
        Workers().Leave();
        item->Release();
        return false;
    }
    return true;
}

bool Dispatch(Model::IThreadParameter* item)
{
    if (!item)
        return false;
    return item->queued ? AsyncCallQueue::Instance().Push(item) : RunOnOwnThread(item);
}

bool StopWorkers(DWORD timeoutMs)
{
    g_stopping = true;
    AsyncCallQueue::Instance().Close();
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        HANDLE idle = Workers().Idle();
        const DWORD r = ::MsgWaitForMultipleObjects(1, &idle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return false; // timed out, or the wait itself failed
        // Serve sent messages only: a worker may be waiting for a page call to this thread.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace Velmora::UI

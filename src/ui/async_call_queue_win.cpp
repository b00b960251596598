#include "ui/async_call_queue_win.h"

#include <objbase.h>

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
        items_.push_back(item);
        if (worker_)
            return true;
        worker_.Reset(::CreateThread(nullptr, 0, &AsyncCallQueue::WorkerMain, this, 0, nullptr));
        if (worker_)
            return true;
        items_.pop_back();
    }
    item->Release();
    return false;
}

bool AsyncCallQueue::WorkerRunning()
{
    Lock guard(lock_);
    return static_cast<bool>(worker_);
}

DWORD WINAPI AsyncCallQueue::WorkerMain(void* self)
{
    static_cast<AsyncCallQueue*>(self)->Work();
    return 0;
}

void AsyncCallQueue::Work()
{
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
    if (SUCCEEDED(com))
        ::CoUninitialize();
}

bool RunOnOwnThread(Model::IThreadParameter* item)
{
    if (!item)
        return false;
    ScopedHandle thread(::CreateThread(nullptr, 0, &OwnThreadMain, item, 0, nullptr));
    if (!thread) {
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

} // namespace Velmora::UI

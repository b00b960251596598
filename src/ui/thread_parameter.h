#pragma once
// A unit of work handed to a worker thread: queued items share the one FIFO worker, the others get a
// thread of their own.

namespace Velmora::Model {

class IThreadParameter {
public:
    virtual ~IThreadParameter() = default;
    virtual void Run() = 0;
    virtual void Release() { delete this; }

    bool queued = true;
};

} // namespace Velmora::Model

#include "checks/service_wait.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace Velmora::Assistant {
namespace {

class SteadyClock final : public IServiceClock {
public:
    std::uint64_t NowMs() override
    {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void SleepMs(std::uint32_t milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

} // namespace

IServiceClock& RealServiceClock()
{
    static SteadyClock clock;
    return clock;
}

std::uint32_t ServicePollMs(std::uint32_t waitHint)
{
    return std::clamp<std::uint32_t>(waitHint / 10, 1000, 10000);
}

ServiceProgress::ServiceProgress(const ServiceStatus& first, std::uint64_t now)
    : checkPoint_(first.CheckPoint), since_(now)
{
}

bool ServiceProgress::TimedOut(const ServiceStatus& status, std::uint64_t now)
{
    if (status.CheckPoint > checkPoint_) {
        checkPoint_ = status.CheckPoint;
        since_ = now;
        return false;
    }
    return now - since_ > status.WaitHint;
}

std::int32_t WaitWhilePending(IServiceControl& service, IServiceClock& clock, std::uint32_t pending,
                              ServiceStatus& status)
{
    ServiceProgress progress(status, clock.NowMs());
    while (status.State == pending) {
        clock.SleepMs(ServicePollMs(status.WaitHint));
        if (const std::int32_t failed = service.Query(status); failed != 0)
            return failed;
        if (status.State == pending && progress.TimedOut(status, clock.NowMs()))
            return kStatusTimeout;
    }
    return 0;
}

std::int32_t StartAndWait(IServiceControl& service, IServiceClock& clock)
{
    ServiceStatus status;
    if (const std::int32_t failed = service.Query(status); failed != 0)
        return failed;
    if (status.State == kServiceRunning)
        return kAlreadyRunning;

    // A service already on its way to running is awaited like one just started, so that the answer
    // says whether it got there.
    const bool underWay = status.State == kServiceStartPending || status.State == kServiceContinuePending;
    if (!underWay) {
        if (status.State != kServiceStopped && status.State != kServiceStopPending)
            return kStatusFail;
        if (const std::int32_t waited = WaitWhilePending(service, clock, kServiceStopPending, status);
            waited != 0)
            return waited;
        if (const std::int32_t failed = service.Start(); failed != 0)
            return failed;
        if (const std::int32_t failed = service.Query(status); failed != 0)
            return failed;
    }

    const std::uint32_t pending =
        status.State == kServiceContinuePending ? kServiceContinuePending : kServiceStartPending;
    const std::int32_t waited = WaitWhilePending(service, clock, pending, status);
    if (waited != 0 && waited != kStatusTimeout)
        return waited;
    return status.State == kServiceRunning ? kStartedRunning : kStatusFail;
}

} // namespace Velmora::Assistant

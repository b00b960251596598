#pragma once
// Starting a service and waiting for it to get there, as decisions over the statuses the service
// control manager reports. The manager and the clock are interfaces so that the waiting can be
// followed step by step without real seconds passing; the Win32 side supplies the real manager.

#include <cstdint>

namespace Velmora::Assistant {

// The system's service states.
enum ServiceState : std::uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
    kServiceContinuePending = 5,
    kServicePausePending = 6,
    kServicePaused = 7,
};

struct ServiceStatus {
    std::uint32_t State = 0;
    std::uint32_t CheckPoint = 0;
    std::uint32_t WaitHint = 0; // milliseconds
};

// Statuses of the start procedure (HRESULT values).
inline constexpr std::int32_t kStartedRunning = 0; // the service runs after being started or awaited
inline constexpr std::int32_t kAlreadyRunning = 1; // nothing was started
inline constexpr std::int32_t kStatusTimeout = static_cast<std::int32_t>(0x800705B4u); // ERROR_TIMEOUT
inline constexpr std::int32_t kStatusFail = static_cast<std::int32_t>(0x80004005u);    // E_FAIL

class IServiceClock {
public:
    virtual ~IServiceClock() = default;
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t milliseconds) = 0;
};

// Steady time and real sleeping.
IServiceClock& RealServiceClock();

// One service as the start procedure sees it. Both operations answer 0 or a failure status.
class IServiceControl {
public:
    virtual ~IServiceControl() = default;
    virtual std::int32_t Query(ServiceStatus& status) = 0;
    virtual std::int32_t Start() = 0; // with no arguments
};

// How long to wait before asking again: a tenth of the wait hint, within 1 to 10 seconds.
std::uint32_t ServicePollMs(std::uint32_t waitHint);

// The progress rule of the waiting loops: a pending service times out when its check point has not
// grown for longer than its current wait hint.
class ServiceProgress {
public:
    ServiceProgress(const ServiceStatus& first, std::uint64_t now);
    // Called after each query; remembers a grown check point.
    bool TimedOut(const ServiceStatus& status, std::uint64_t now);

private:
    std::uint32_t checkPoint_;
    std::uint64_t since_;
};

// Waits while `status` is in the `pending` state, querying after each wait and updating `status`.
// 0 once the state has changed, kStatusTimeout, or the status of a failed query.
std::int32_t WaitWhilePending(IServiceControl& service, IServiceClock& clock, std::uint32_t pending,
                              ServiceStatus& status);

// Brings the service to the running state: a stopping service is awaited and then started, a
// stopped one started, a starting one awaited. kStartedRunning or kAlreadyRunning when it runs;
// kStatusTimeout when a pending stop did not finish; kStatusFail when it did not reach the running
// state (a paused service among them: starting cannot resume it); else the failed call's status.
std::int32_t StartAndWait(IServiceControl& service, IServiceClock& clock);

} // namespace Velmora::Assistant

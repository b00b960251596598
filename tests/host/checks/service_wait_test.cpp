#include "checks/service_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace Velmora::Assistant {
namespace {

struct Answer {
    std::int32_t failed;
    ServiceStatus status;
};

Answer At(std::uint32_t state, std::uint32_t checkPoint = 0, std::uint32_t waitHint = 3000)
{
    return {0, {state, checkPoint, waitHint}};
}

Answer Failed(std::int32_t status)
{
    return {status, {}};
}

// `count` pending answers whose check point grows by one each time, from 1.
std::vector<Answer> Creeping(std::uint32_t state, std::uint32_t count)
{
    std::vector<Answer> answers;
    for (std::uint32_t i = 1; i <= count; ++i)
        answers.push_back(At(state, i));
    return answers;
}

std::vector<Answer> operator+(std::vector<Answer> a, const std::vector<Answer>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Answers the queries in order, the last answer for ever.
class ScriptedService : public IServiceControl {
public:
    ScriptedService(std::vector<Answer> answers, std::int32_t startResult)
        : answers_(std::move(answers)), startResult_(startResult)
    {
    }
    std::int32_t Query(ServiceStatus& status) override
    {
        const Answer& answer = answers_[std::min(next_++, answers_.size() - 1)];
        if (answer.failed == 0)
            status = answer.status;
        return answer.failed;
    }
    std::int32_t Start() override
    {
        ++starts;
        return startResult_;
    }
    int starts = 0;

private:
    std::vector<Answer> answers_;
    std::int32_t startResult_;
    std::size_t next_ = 0;
};

class ManualClock : public IServiceClock {
public:
    std::uint64_t NowMs() override { return now; }
    void SleepMs(std::uint32_t milliseconds) override { now += milliseconds; }
    std::uint64_t now = 5000; // not zero, so that elapsed time is told apart from the clock's value
};

constexpr std::int32_t kDisabled = static_cast<std::int32_t>(0x80070422u); // ERROR_SERVICE_DISABLED
constexpr std::int32_t kGone = static_cast<std::int32_t>(0x80070424u);     // ERROR_SERVICE_DOES_NOT_EXIST

TEST(StartAndWait, FollowsTheServiceToTheEnd)
{
    struct Case {
        const char* name;
        std::vector<Answer> answers;
        std::int32_t startResult;
        std::int32_t expected;
        int starts;
        std::uint64_t waitedMs;
    };
    const Case cases[] = {
        {"running: nothing to do", {At(kServiceRunning)}, 0, kAlreadyRunning, 0, 0},
        {"paused: neither started nor resumed", {At(kServicePaused)}, 0, kStatusFail, 0, 0},
        {"stopped, runs at once", {At(kServiceStopped), At(kServiceRunning)}, 0, kStartedRunning, 1, 0},
        {"stopped, runs after one wait",
         {At(kServiceStopped), At(kServiceStartPending, 1), At(kServiceRunning)},
         0,
         kStartedRunning,
         1,
         1000},
        {"start refused", {At(kServiceStopped)}, kDisabled, kDisabled, 1, 0},
        // No progress for more than the 3 s hint: the fourth one-second wait gives up.
        {"start pending without progress",
         {At(kServiceStopped), At(kServiceStartPending, 1)},
         0,
         kStatusFail,
         1,
         4000},
        // Ten seconds of pending, well past the hint, but the check point never stands still.
        {"start pending with progress",
         std::vector{At(kServiceStopped)} + Creeping(kServiceStartPending, 10) +
             std::vector{At(kServiceRunning)},
         0, kStartedRunning, 1, 10000},
        // Progress restarts the count: stuck at check point 6 from 5 s on, given up at 9 s.
        {"progress, then none", std::vector{At(kServiceStopped)} + Creeping(kServiceStartPending, 6), 0,
         kStatusFail, 1, 9000},
        {"check point going back is no progress",
         {At(kServiceStopped), At(kServiceStartPending, 5), At(kServiceStartPending, 1)},
         0,
         kStatusFail,
         1,
         4000},
        // A 50 s hint: waits of 5 s, given up once more than 50 s passed without progress.
        {"long wait hint",
         {At(kServiceStopped), At(kServiceStartPending, 1, 50000)},
         0,
         kStatusFail,
         1,
         55000},
        {"no wait hint", {At(kServiceStopped), At(kServiceStartPending, 1, 0)}, 0, kStatusFail, 1, 1000},
        {"start pending ends stopped",
         {At(kServiceStopped), At(kServiceStartPending, 1), At(kServiceStopped)},
         0,
         kStatusFail,
         1,
         1000},
        {"stopping, then started",
         Creeping(kServiceStopPending, 3) + std::vector{At(kServiceStopped), At(kServiceRunning)}, 0,
         kStartedRunning, 1, 3000},
        // Stopped by the query that would have timed out: stopped is what counts.
        {"stops at the deadline",
         {At(kServiceStopPending, 1), At(kServiceStopPending, 1), At(kServiceStopPending, 1),
          At(kServiceStopPending, 1), At(kServiceStopped), At(kServiceRunning)},
         0,
         kStartedRunning,
         1,
         4000},
        {"stop pending without progress", {At(kServiceStopPending, 1)}, 0, kStatusTimeout, 0, 4000},
        {"already starting: awaited, not started again",
         Creeping(kServiceStartPending, 2) + std::vector{At(kServiceRunning)}, 0, kStartedRunning, 0, 2000},
        {"already starting without progress", {At(kServiceStartPending, 1)}, 0, kStatusFail, 0, 4000},
        {"continuing: awaited",
         {At(kServiceContinuePending, 1), At(kServiceRunning)},
         0,
         kStartedRunning,
         0,
         1000},
        {"first query fails", {Failed(kGone)}, 0, kGone, 0, 0},
        {"query fails while starting",
         {At(kServiceStopped), At(kServiceStartPending, 1), Failed(kGone)},
         0,
         kGone,
         1,
         1000},
        {"query fails while stopping", {At(kServiceStopPending, 1), Failed(kGone)}, 0, kGone, 0, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedService service(c.answers, c.startResult);
        ManualClock clock;
        const std::uint64_t before = clock.now;
        EXPECT_EQ(StartAndWait(service, clock), c.expected);
        EXPECT_EQ(service.starts, c.starts);
        EXPECT_EQ(clock.now - before, c.waitedMs);
    }
}

TEST(StartAndWait, ATenthOfTheWaitHintWithinOneToTenSeconds)
{
    const std::uint32_t cases[][2] = {{0, 1000},       {9999, 1000},    {10000, 1000},   {25000, 2500},
                                      {100000, 10000}, {100009, 10000}, {250000, 10000}, {0xFFFFFFFF, 10000}};
    for (const auto& [hint, poll] : cases)
        EXPECT_EQ(ServicePollMs(hint), poll) << "wait hint " << hint;
}

TEST(StartAndWait, RealClockCountsMilliseconds)
{
    IServiceClock& clock = RealServiceClock();
    const std::uint64_t before = clock.NowMs();
    clock.SleepMs(20);
    const std::uint64_t elapsed = clock.NowMs() - before;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 20000u);
}

} // namespace
} // namespace Velmora::Assistant

// The service handler against the real service control manager, with a test service that can be
// told to start or stop slowly, or to hang in a pending state.
#include "checks/check_fix_service_win.h"
#include "common/text_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace Velmora::Assistant {
namespace {

// Time runs five times faster than real time: the waiting logic sees whole seconds pass while the
// test service, which moves on in real time, gets a fifth of each.
class FastClock : public IServiceClock {
public:
    std::uint64_t NowMs() override { return now; }
    void SleepMs(std::uint32_t milliseconds) override
    {
        Sleep(milliseconds / 5);
        now += milliseconds;
    }
    std::uint64_t now = 0;
};

std::wstring UniqueServiceName()
{
    static const std::wstring run =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
    static int counter = 0;
    return L"VelmoraTestService_" + run + L"_" + std::to_wstring(++counter);
}

std::wstring ServiceExe()
{
    std::wstring path = Utf8ToWide(VELMORA_TEST_SERVICE);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

DWORD StateOf(SC_HANDLE service)
{
    ServiceStatus status;
    return SUCCEEDED(QueryServiceProgress(service, status)) ? status.State : 0;
}

// Real time, for bringing a service into the state a case starts from.
bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs = 20000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (StateOf(service) != state) {
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
    return true;
}

// Installs test services under names unique to this run and removes them at the end of each test,
// whatever its outcome: stopped when they can be, their process ended when not.
class ServiceCheck : public testing::Test {
protected:
    void SetUp() override
    {
        manager_.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << GetLastError();
    }

    void TearDown() override
    {
        for (ScopedServiceHandle& service : services_)
            Remove(service.Get());
        services_.clear();
    }

    // A demand-start service that behaves as `arguments` say; null when it cannot be created.
    SC_HANDLE Install(const std::wstring& arguments, std::wstring& name)
    {
        name = UniqueServiceName();
        const std::wstring binary = L"\"" + ServiceExe() + L"\" name=" + name + L" " + arguments;
        ScopedServiceHandle service(CreateServiceW(manager_.Get(), name.c_str(), name.c_str(),
                                                   SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                   SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(),
                                                   nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(service) << "CreateServiceW failed with " << GetLastError();
        const SC_HANDLE handle = service.Get();
        if (service)
            services_.push_back(std::move(service));
        return handle;
    }

private:
    static void Remove(SC_HANDLE service)
    {
        SERVICE_STATUS status = {};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status) ||
            !WaitForState(service, SERVICE_STOPPED)) {
            SERVICE_STATUS_PROCESS process = {};
            DWORD needed = 0;
            if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                     sizeof process, &needed) &&
                process.dwProcessId != 0) {
                ScopedHandle running(
                    OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId));
                if (running && TerminateProcess(running.Get(), 1))
                    WaitForSingleObject(running.Get(), 10000);
            }
        }
        EXPECT_TRUE(DeleteService(service)) << GetLastError();
    }

    ScopedServiceHandle manager_;
    std::vector<ScopedServiceHandle> services_;
};

enum class Before { Installed, Started, Stopping, Paused };

TEST_F(ServiceCheck, CheckAndRepairFollowTheService)
{
    struct Case {
        const char* name;
        const wchar_t* arguments;
        Before before;
        std::int32_t check;
        std::int32_t fix;
        DWORD stateAfter;
        std::uint64_t minWaitMs, maxWaitMs; // time the repair waited, on the fast clock
    };
    const Case cases[] = {
        {"running", L"start=quick stop=quick hint=3000", Before::Started, 2, 2, SERVICE_RUNNING, 0, 0},
        {"stopped", L"start=quick stop=quick hint=3000", Before::Installed, -2, 2, SERVICE_RUNNING, 0, 3000},
        // Gives up once more than the 3 s hint has passed without progress (after 4 to 5 waits of
        // a second: the manager's own first check point may count as progress).
        {"start pending without progress", L"start=stuck stop=quick hint=3000", Before::Installed, -2, -2,
         SERVICE_START_PENDING, 4000, 6000},
        // Pending for far longer than its hint, but always moving on.
        {"start pending with progress", L"start=creep stop=quick hint=5000", Before::Installed, -2, 2,
         SERVICE_RUNNING, 6000, 60000},
        {"stopping", L"start=quick stop=creep hint=5000", Before::Stopping, -2, 2, SERVICE_RUNNING, 0, 60000},
        {"stop pending without progress", L"start=quick stop=stuck hint=3000", Before::Stopping, -2, -2,
         SERVICE_STOP_PENDING, 4000, 6000},
        // Starting cannot make a paused service run, and resuming it is not the repair's business.
        {"paused", L"start=quick stop=quick hint=3000", Before::Paused, -2, -2, SERVICE_PAUSED, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring name;
        const SC_HANDLE service = Install(c.arguments, name);
        ASSERT_NE(service, nullptr);
        SERVICE_STATUS status = {};
        if (c.before != Before::Installed) {
            ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
            ASSERT_TRUE(WaitForState(service, SERVICE_RUNNING)) << StateOf(service);
        }
        if (c.before == Before::Stopping) {
            ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
            ASSERT_TRUE(WaitForState(service, SERVICE_STOP_PENDING)) << StateOf(service);
        }
        if (c.before == Before::Paused) {
            ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
            ASSERT_TRUE(WaitForState(service, SERVICE_PAUSED)) << StateOf(service);
        }

        FastClock clock;
        CheckFixService handler(clock);
        ConfigEntry entry;
        entry.Text = WideToUtf8(name);
        EXPECT_EQ(handler.CheckEntry(entry), c.check);
        EXPECT_EQ(handler.FixEntry(entry), c.fix);
        EXPECT_EQ(StateOf(service), c.stateAfter);
        EXPECT_GE(clock.now, c.minWaitMs);
        EXPECT_LE(clock.now, c.maxWaitMs);
        if (c.fix == 2) {
            EXPECT_EQ(handler.CheckEntry(entry), 2);
        }
    }
}

TEST_F(ServiceCheck, UnknownServiceFailsBothWays)
{
    ICheckFix* handler = HandlerForType("service");
    ASSERT_NE(dynamic_cast<CheckFixService*>(handler), nullptr);
    for (const std::string& name : {WideToUtf8(UniqueServiceName()), std::string()}) {
        SCOPED_TRACE(name);
        ConfigEntry entry;
        entry.Text = name;
        EXPECT_EQ(handler->CheckEntry(entry), -2);
        EXPECT_EQ(handler->FixEntry(entry), -2);
    }
}

} // namespace
} // namespace Velmora::Assistant

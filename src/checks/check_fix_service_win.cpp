#include "checks/check_fix_service_win.h"

#include "common/text_win.h"

namespace Velmora::Assistant {
namespace {

HRESULT LastErrorStatus()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

class ServiceControl final : public IServiceControl {
public:
    explicit ServiceControl(SC_HANDLE service) : service_(service) {}
    std::int32_t Query(ServiceStatus& status) override { return QueryServiceProgress(service_, status); }
    std::int32_t Start() override { return ::StartServiceW(service_, 0, nullptr) ? S_OK : LastErrorStatus(); }

private:
    SC_HANDLE service_;
};

} // namespace

ServiceHandles::ServiceHandles(const std::wstring& name)
    : manager_(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS))
{
    if (manager_)
        service_.Reset(::OpenServiceW(manager_.Get(), name.c_str(), SERVICE_ALL_ACCESS));
}

HRESULT QueryServiceProgress(SC_HANDLE service, ServiceStatus& status)
{
    SERVICE_STATUS_PROCESS process = {};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                sizeof process, &needed))
        return LastErrorStatus();
    status.State = process.dwCurrentState;
    status.CheckPoint = process.dwCheckPoint;
    status.WaitHint = process.dwWaitHint;
    return S_OK;
}

HRESULT StartAndWait(SC_HANDLE service, IServiceClock& clock)
{
    ServiceControl control(service);
    return StartAndWait(control, clock);
}

std::int32_t CheckFixService::CheckEntry(ConfigEntry& entry)
{
    const ServiceHandles handles(Utf8ToWide(entry.Text));
    ServiceStatus status;
    if (!handles.IsOpen() || FAILED(QueryServiceProgress(handles.Service(), status)))
        return kResultFailed;
    return status.State == kServiceRunning ? kResultPassed : kResultFailed;
}

std::int32_t CheckFixService::FixEntry(ConfigEntry& entry)
{
    const ServiceHandles handles(Utf8ToWide(entry.Text));
    if (!handles.IsOpen())
        return kResultFailed;
    return StartAndWait(handles.Service(), clock_) < 0 ? kResultFailed : kResultPassed;
}

} // namespace Velmora::Assistant

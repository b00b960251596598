#pragma once
// The `service` handler: a service the bank's components depend on must be running, and is started
// when it is not. The only place where the program talks to the service control manager.

#include "checks/check_fix.h"
#include "checks/service_wait.h"
#include "common/scoped_handle_win.h"

#include <windows.h>

#include <string>

namespace Velmora::Assistant {

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::CloseServiceHandle(h); }
};

using ScopedServiceHandle = ScopedGeneric<ServiceHandleTraits>;

// The manager of the local machine's active database and one service in it, both with all access
// rights. The service handle is closed before the manager's.
class ServiceHandles {
public:
    explicit ServiceHandles(const std::wstring& name);

    bool IsOpen() const { return service_.IsValid(); }
    SC_HANDLE Service() const { return service_.Get(); }

private:
    ScopedServiceHandle manager_; // declared first, so destroyed last
    ScopedServiceHandle service_;
};

// The current status of a service; 0, or the failure status of the query.
HRESULT QueryServiceProgress(SC_HANDLE service, ServiceStatus& status);

// Starts the service and waits for it; the statuses are those of the portable StartAndWait.
HRESULT StartAndWait(SC_HANDLE service, IServiceClock& clock = RealServiceClock());

class CheckFixService final : public ICheckFix {
public:
    explicit CheckFixService(IServiceClock& clock = RealServiceClock()) : clock_(clock) {}

    // Entry text: the service's key name. 2 when it runs, else -2.
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // 2 when the service runs at the end (started or awaited as needed), else -2.
    std::int32_t FixEntry(ConfigEntry& entry) override;

private:
    IServiceClock& clock_;
};

} // namespace Velmora::Assistant

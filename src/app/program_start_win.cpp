#include "app/program_start_win.h"

#include "app/assistant_app_win.h"
#include "app/module_paths_win.h"
#include "app/shell_services_win.h"
#include "common/option_table.h"
#include "ui/assistant_commands_win.h"

#include <objbase.h>
#include <ole2.h>

namespace Velmora {

UI::CommandServices ProgramServices()
{
    UI::CommandServices services = UI::ProgramCommandServices();
    FillShellServices(services);
    return services;
}

ProgramStart::ProgramStart(ProgramStartOptions options) : options_(std::move(options))
{
    // The folder the check document's paths may refer to.
    ::SetEnvironmentVariableW(L"AppPath", ExecutableFolder().c_str());
    status_ = AcquireSingleInstance();
    if (status_ != S_OK)
        return;
    // The tables stay for the program's lifetime. A missing algorithm only fails the operations
    // that need it, so start-up goes on regardless.
    algorithms_.emplace();
    com_ = options_.ole ? ::OleInitialize(nullptr) : ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Options().Set(kOptionDownloadBesideExe, 1);
    Options().Set(kOptionCacheCheckConfig, options_.configOverride.empty() ? 1 : 0);
}

ProgramStart::~ProgramStart()
{
    if (status_ != S_OK)
        return;
    algorithms_.reset();
    ReleaseSingleInstance();
    if (SUCCEEDED(com_)) {
        if (options_.ole)
            ::OleUninitialize();
        else
            ::CoUninitialize();
    }
}

UI::CommandServices ProgramStart::Services() const
{
    UI::CommandServices services = ProgramServices();
    services.configOverride = options_.configOverride;
    return services;
}

} // namespace Velmora

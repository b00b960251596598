#include "ui/assistant_commands_win.h"

#include "checks/config_loader_win.h"
#include "checks/download_route.h"
#include "checks/item_install_win.h"
#include "checks/run_driver_win.h"
#include "common/message_box_win.h"
#include "common/process_win.h"
#include "install/self_update_win.h"
#include "net/http_agent_win.h"
#include "net/simple_http_win.h"
#include "sysinfo/os_version_win.h"
#include "ui/host_rules.h"
#include "ui/key_commands_win.h"

#include <shellapi.h>
#include <shlobj.h>

namespace Velmora::UI {
namespace {

std::vector<std::wstring> CommandLineArguments()
{
    std::vector<std::wstring> out;
    int count = 0;
    ScopedLocal argv(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &count)));
    auto** args = reinterpret_cast<wchar_t**>(argv.Get());
    for (int i = 1; args && i < count; ++i)
        out.emplace_back(args[i]);
    return out;
}

std::wstring ProgramFilesFolder()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return folder;
}

// The page's links and every page that leaves the program open in Internet Explorer, started
// through the desktop shell's token so that the browser does not run elevated.
void OpenBrowserAsDesktopUser(const std::wstring& browser, const std::wstring& url)
{
    RunCommandLine(BrowserCommandLine(browser, url), false, false, true);
}

// InstallItem with its downloads' progress going to `report` (on this thread, while it runs).
std::int32_t InstallWithProgress(std::vector<Assistant::ConfigEntry>& detect,
                                 std::vector<Assistant::ConfigEntry>& installers,
                                 const std::function<void(int percent, bool ok)>& report)
{
    Assistant::ScopedDownloadRoute route(report);
    return Assistant::InstallItem(detect, installers, Assistant::ScopedDownloadRoute::Function(), 0);
}

std::optional<std::string> ServeRunRequest(Assistant::CheckConfig& config, const Assistant::RunTarget& target,
                                           bool checkOnly, const EngineProgress& progress)
{
    Assistant::RunServices services = Assistant::SystemRunServices();
    services.setInstallIndex = progress.setInstallIndex;
    services.installItem = [&progress](std::vector<Assistant::ConfigEntry>& detect,
                                       std::vector<Assistant::ConfigEntry>& installers) {
        return InstallWithProgress(detect, installers, progress.report);
    };
    return Assistant::RunRequest(config, target, checkOnly, services);
}

bool ServeCheckUpdate(Assistant::CheckConfig& config, bool interactive, HWND owner,
                      const EngineProgress& progress)
{
    Assistant::UpdateServices services;
    services.handlerFor = Assistant::HandlerForType;
    services.setInstallIndex = progress.setInstallIndex;
    services.installItem = [&progress](std::vector<Assistant::ConfigEntry>& detect,
                                       std::vector<Assistant::ConfigEntry>& installers) {
        return InstallWithProgress(detect, installers, progress.report);
    };
    return Assistant::CheckForUpdate(config, interactive, owner, services);
}

} // namespace

CommandServices ProgramCommandServices()
{
    CommandServices s;
    s.httpPost = [](const std::wstring& url) { return Network::HttpPostText(url); };
    s.fetch = Assistant::FetchThrough(Network::ProcessAgent());
    s.loadConfig = [](Assistant::CheckConfig& config, const std::wstring& source) {
        return Assistant::LoadCheckConfig(config, source.c_str(),
                                          Assistant::FetchThrough(Network::ProcessAgent()));
    };
    s.versionText = [](const std::wstring& which) { return System::VersionTextFor(which); };
    s.keyRequest = Usb::KeyRequestHandler(Usb::SystemBus(), Usb::SystemCsp());
    s.config = &Assistant::TheCheckConfig();
    s.runRequest = ServeRunRequest;
    s.checkUpdate = ServeCheckUpdate;
    s.commandLineArgs = CommandLineArguments();
    s.title = MessageText(kDisplayNameResource).Resolve();
    s.programFilesFolder = ProgramFilesFolder();
    s.openBrowser = OpenBrowserAsDesktopUser;
    s.defaultConfigUrl = kDefaultConfigUrl;
    return s;
}

BSDialogParams MainDialogParams(CommandHandler handler)
{
    BSDialogParams p;
    p.title = MessageText(kDisplayNameResource).Resolve();
    p.framed = FALSE;
    p.autoSize = 1;
    p.icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainIconResource));
    p.pageResourceId = kMainPageResource;
    p.commandHandler = std::move(handler);
    return p;
}

void ConnectMainDialog(IBSDialog* dialog)
{
    SetMessageMainWindow(dialog ? dialog->GetWindowHandle() : nullptr);
    const std::wstring browser = ProgramFilesFolder() + L"\\Internet Explorer\\iexplore.exe";
    CBSDialog::SetIeLauncher([browser](const std::wstring& url) { OpenBrowserAsDesktopUser(browser, url); });
}

} // namespace Velmora::UI

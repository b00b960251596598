#include "checks/run_driver_win.h"

#include "checks/browser_cache_win.h"
#include "checks/certificate_sm2_win.h"
#include "checks/scoped_redirection_win.h"
#include "checks/zone_level_win.h"
#include "common/message_box_win.h"
#include "net/connection_state_win.h"
#include "sysinfo/security_products_win.h"

namespace Velmora::Assistant {
namespace {

constexpr wchar_t kCacheClearedText[] = L"清理结束";
constexpr wchar_t kCacheClearedCaption[] = L"完成";

bool ClearBrowserCache(bool checkOnly)
{
    if (checkOnly)
        return true;
    ClearTlsState(nullptr);
    ClearUrlCache(kClearHistory | kClearTemporaryFiles);
    UI::ShowMessage(kCacheClearedText, L"", kCacheClearedCaption, UI::kIconInformation, nullptr);
    return true;
}

} // namespace

std::optional<bool> RunBuiltInCheck(std::string_view name, bool checkOnly)
{
    if (name == "level")
        return CheckZoneLevels(!checkOnly);
    if (name == "cache")
        return ClearBrowserCache(checkOnly);
    if (name == "proxy")
        return Network::ProxyInUse();
    if (name == "firewall")
        return System::Security::FirewallVerdict();
    if (name == "antivirus")
        return System::Security::AntivirusVerdict();
    if (name == "winupdate")
        return System::Security::WindowsUpdateVerdict();
    if (name == "connection")
        return Network::IsConnected();
    return std::nullopt;
}

RunServices SystemRunServices()
{
    RunServices services;
    services.handlerFor = HandlerForType;
#if defined(_WIN64)
    services.is64BitWindows = true;
#else
    services.is64BitWindows = RunsUnderWow64();
#endif
    services.builtInCheck = RunBuiltInCheck;
    services.sm2Certificates = [](bool checkOnly) {
        return checkOnly ? CheckSm2Certificates() : FixSm2Certificates();
    };
    return services;
}

} // namespace Velmora::Assistant

// The program's handler types, in the order the registry makes them. A type whose handler has not
// been written yet has no factory and is looked up as unknown.
#include "checks/check_fix.h"
#include "checks/check_fix_cfca_win.h"
#include "checks/check_fix_clsid_win.h"
#include "checks/check_fix_compat_win.h"
#include "checks/check_fix_dns_win.h"
#include "checks/check_fix_file_win.h"
#include "checks/check_fix_host_win.h"
#include "checks/check_fix_iehomepage_win.h"
#include "checks/check_fix_registry_win.h"
#include "checks/check_fix_service_win.h"
#include "checks/check_fix_trust_win.h"
#include "checks/check_fix_url_win.h"
#include "checks/item_install_win.h"

#include <iterator>

namespace Velmora::Assistant {
namespace {

constexpr HandlerRegistry::Row kHandlerTable[] = {
    {"registry", MakeHandler<CheckFixRegistry>},
    {"clsid", MakeHandler<CheckFixCOM>},
    {"file", MakeHandler<CheckFixFile>},
    {"host", MakeHandler<CheckFixHost>},
    {"dns", MakeHandler<CheckFixDns>},
    {"trust", MakeHandler<CheckFixTrust>},
    {"cfca", MakeHandler<CheckFixCFCA>},
    {"url", MakeHandler<CheckFixUrl>},
    {"iehomepage", MakeHandler<CheckFixIEHomepage>},
    {"compatibility", MakeHandler<CheckFixCompatibilityView>},
    {"service", MakeHandler<CheckFixService>},
    {"install", MakeHandler<ItemInstall>},
    {"uninstall", MakeHandler<ItemUninstall>},
};

} // namespace

ICheckFix* HandlerForType(std::string_view type)
{
    static HandlerRegistry registry(kHandlerTable, std::size(kHandlerTable));
    return registry.Find(type);
}

} // namespace Velmora::Assistant

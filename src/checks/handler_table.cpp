// The program's handler types, in the order the registry makes them. A type whose handler has not
// been written yet has no factory and is looked up as unknown.
#include "checks/check_fix.h"

#include <iterator>

namespace Velmora::Assistant {
namespace {

constexpr HandlerRegistry::Row kHandlerTable[] = {
    {"registry", nullptr},   {"clsid", nullptr},         {"file", nullptr},    {"host", nullptr},
    {"dns", nullptr},        {"trust", nullptr},         {"cfca", nullptr},    {"url", nullptr},
    {"iehomepage", nullptr}, {"compatibility", nullptr}, {"service", nullptr}, {"install", nullptr},
    {"uninstall", nullptr},
};

} // namespace

ICheckFix* HandlerForType(std::string_view type)
{
    static HandlerRegistry registry(kHandlerTable, std::size(kHandlerTable));
    return registry.Find(type);
}

} // namespace Velmora::Assistant

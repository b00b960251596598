#include "checks/check_fix_dns.h"

#include "checks/check_fix.h"

#include <algorithm>

namespace Velmora::Assistant {

std::vector<std::string> SplitExpectedAddresses(std::string_view ip)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = ip.find('|', start);
        if (bar == std::string_view::npos) {
            if (start < ip.size())
                pieces.emplace_back(ip.substr(start));
            return pieces;
        }
        pieces.emplace_back(ip.substr(start, bar - start));
        start = bar + 1;
    }
}

std::int32_t CompareResolvedAddresses(const std::vector<std::string>& resolved,
                                      const std::vector<std::string>& expected)
{
    if (resolved.empty())
        return kResultFailed;
    for (const std::string& address : resolved) {
        if (std::find(expected.begin(), expected.end(), address) == expected.end())
            return kResultFailed;
    }
    return kResultPassed;
}

} // namespace Velmora::Assistant

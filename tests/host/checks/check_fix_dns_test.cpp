#include "checks/check_fix_dns.h"

#include "checks/check_fix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

using Strings = std::vector<std::string>;

TEST(DnsExpectedAddresses, Split)
{
    const struct {
        const char* ip;
        Strings pieces;
    } cases[] = {
        {"", {}},
        {"1.2.3.4", {"1.2.3.4"}},
        {"1.2.3.4|5.6.7.8", {"1.2.3.4", "5.6.7.8"}},
        {"1.2.3.4|", {"1.2.3.4"}},
        {"1.2.3.4||5.6.7.8", {"1.2.3.4", "", "5.6.7.8"}},
        {"|1.2.3.4", {"", "1.2.3.4"}},
        {"1.2.3.4||", {"1.2.3.4", ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitExpectedAddresses(c.ip), c.pieces) << c.ip;
}

TEST(DnsExpectedAddresses, EveryResolvedAddressMustBeExpected)
{
    const Strings expected = {"10.0.0.1", "10.0.0.2"};
    const struct {
        Strings resolved;
        Strings expected;
        std::int32_t code;
    } cases[] = {
        {{"10.0.0.1"}, expected, kResultPassed},
        {{"10.0.0.2", "10.0.0.1"}, expected, kResultPassed},
        {{"10.0.0.1", "6.6.6.6"}, expected, kResultFailed}, // one expected, one not
        {{"6.6.6.6", "10.0.0.1"}, expected, kResultFailed},
        {{}, expected, kResultFailed},                // nothing resolved
        {{"10.0.0.1"}, {}, kResultFailed},            // no `ip`: any answer fails
        {{"10.0.0.10"}, {"10.0.0.1"}, kResultFailed}, // exact text, not a prefix
        {{"10.0.0.1"}, {"", "10.0.0.1"}, kResultPassed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareResolvedAddresses(c.resolved, c.expected), c.code)
            << ::testing::PrintToString(c.resolved) << " in " << ::testing::PrintToString(c.expected);
}

} // namespace
} // namespace Velmora::Assistant

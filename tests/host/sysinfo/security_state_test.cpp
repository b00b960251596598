#include "sysinfo/security_state.h"

#include <gtest/gtest.h>

namespace Velmora::System::Security {
namespace {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNoProduct = static_cast<std::int32_t>(0x80004002);
constexpr std::int32_t kNoNamespace = static_cast<std::int32_t>(0x8004100E);
constexpr std::int32_t kFailed = static_cast<std::int32_t>(0x80004005);

TEST(ProductState, OnBitAndSignatureByte)
{
    struct Case {
        std::int64_t state;
        bool on, upToDate;
    } cases[] = {
        {0x61100, true, true},
        {0x61110, true, false},
        {0x60100, false, true},
        {0x60110, false, false},
        {0x1001, true, false},
        {0, false, true},                     // a null state counts as 0
        {0x7FFFFFFF00061100LL, true, true},   // high half ignored
        {0x0000000100060110LL, false, false}, // bit 32 is not the on bit
        {-1, true, false},
    };
    for (const Case& c : cases) {
        const ProductState s = DecodeProductState(c.state);
        EXPECT_EQ(s.on, c.on) << std::hex << c.state;
        EXPECT_EQ(s.upToDate, c.upToDate) << std::hex << c.state;
    }
}

TEST(SecurityVerdicts, FirewallAntivirusAndUpdates)
{
    const std::vector<FirewallProduct> none;
    const std::vector<FirewallProduct> offOn = {{false, "", "Off Wall", ""}, {true, "", "On Wall", ""}};
    const std::vector<FirewallProduct> allOff = {{false, "", "Off Wall", ""}};
    EXPECT_TRUE(FirewallVerdictOf(kOk, true, kNoNamespace, none));
    EXPECT_TRUE(FirewallVerdictOf(kOk, false, kOk, offOn)) << "another vendor's firewall is on";
    EXPECT_TRUE(FirewallVerdictOf(kFailed, true, kOk, offOn));
    EXPECT_FALSE(FirewallVerdictOf(kOk, false, kOk, allOff));
    EXPECT_FALSE(FirewallVerdictOf(kFailed, true, kNoProduct, none)) << "a failed read is not on";
    EXPECT_FALSE(FirewallVerdictOf(kOk, false, kNoNamespace, offOn)) << "a failed query lists nothing usable";

    const std::vector<AntivirusProduct> mixed = {{true, false, "Stale", "", ""},
                                                 {false, true, "Idle", "", ""}};
    const std::vector<AntivirusProduct> good = {{true, false, "Stale", "", ""}, {true, true, "Good", "", ""}};
    EXPECT_FALSE(AntivirusVerdictOf(kOk, mixed)) << "on and current must hold for the same product";
    EXPECT_TRUE(AntivirusVerdictOf(kOk, good));
    EXPECT_FALSE(AntivirusVerdictOf(kNoNamespace, good));
    EXPECT_FALSE(AntivirusVerdictOf(kNoProduct, {}));

    const std::pair<std::int32_t, bool> levels[] = {{0, false}, {1, false}, {2, true},
                                                    {3, true},  {4, true},  {-1, false}};
    for (const auto& [level, on] : levels)
        EXPECT_EQ(AutomaticUpdatesLevelOn(level), on) << "level " << level;
}

} // namespace
} // namespace Velmora::System::Security

// Security Center's products, the Windows firewall and automatic updates through fakes of the
// platform's interfaces, and what Wine's own objects answer.

#include "fake_security.h"
#include "sysinfo/security_products_win.h"

#include <gtest/gtest.h>

using namespace Velmora::System::Security;
using namespace VelmoraTest;

namespace {

using Object = std::map<std::wstring, ScopedVariant>;
constexpr HRESULT kNoNamespace = static_cast<HRESULT>(0x8004100E);
constexpr HRESULT kNoProduct = static_cast<HRESULT>(0x80004002);

ScopedVariant S(const wchar_t* s)
{
    return ScopedVariant::String(s);
}
ScopedVariant I(int v)
{
    return ScopedVariant::Int(v);
}
ScopedVariant B(bool v)
{
    return ScopedVariant::Bool(v);
}
ScopedVariant Null()
{
    ScopedVariant v;
    v.Ptr()->vt = VT_NULL;
    return v;
}

class SecurityProductsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(com_.Status()); }

    LocatorFactory Locator()
    {
        return [this](IWbemLocator** out) {
            ++wmi_.locatorsMade;
            *out = new FakeLocator(spaces_, wmi_);
            return S_OK;
        };
    }
    SecurityPlatform Platform()
    {
        SecurityPlatform p;
        p.createLocator = Locator();
        p.createFirewallManager = [this](INetFwMgr** out) {
            ++firewall_.made;
            *out = new FakeFirewallManager(firewall_);
            return S_OK;
        };
        p.createAutomaticUpdates = [this](IAutomaticUpdates** out) {
            *out = new FakeAutomaticUpdates(updateLevel_);
            return S_OK;
        };
        return p;
    }

    ComScope com_;
    RecordingPresenter presenter_;
    PresenterScope presenting_{&presenter_};
    std::map<std::wstring, FakeNamespace> spaces_;
    WmiRecord wmi_;
    FirewallSetup firewall_;
    int updateLevel_ = 0;
};

TEST_F(SecurityProductsTest, SecurityCenter2StatesDecideBothProductKinds)
{
    FakeNamespace& center = spaces_[L"root\\SecurityCenter2"];
    center.classes[L"FirewallProduct"] = {
        {{L"DisplayName", S(L"Wall A")}, {L"productState", I(0x61100)}, {L"CompanyName", S(L"unused")}},
        {{L"DisplayName", S(L"Wall B")}, {L"productState", I(0x60100)}},
    };
    center.classes[L"AntiVirusProduct"] = {
        {{L"DisplayName", S(L"Stale")}, {L"productState", I(0x61110)}},
        {{L"DisplayName", S(L"Idle")}, {L"productState", I(0x60100)}},
        {{L"DisplayName", S(L"Broken")}, {L"productState", Null()}},
    };
    spaces_[L"root\\SecurityCenter"].classes[L"FirewallProduct"] = {{{L"DisplayName", S(L"never asked")}}};

    std::vector<FirewallProduct> walls = {{true, "old", "old", "old"}};
    ASSERT_EQ(S_OK, QueryFirewallProducts(walls, Locator()));
    ASSERT_EQ(2u, walls.size());
    EXPECT_EQ("Wall A", walls[0].name);
    EXPECT_TRUE(walls[0].enabled);
    EXPECT_EQ("", walls[0].company) << "Security Center 2 names no company";
    EXPECT_EQ("Wall B", walls[1].name);
    EXPECT_FALSE(walls[1].enabled);
    EXPECT_EQ((std::vector<std::wstring>{L"root\\SecurityCenter2"}), wmi_.namespaces);
    EXPECT_EQ((std::vector<std::wstring>{L"WQL", L"SELECT * FROM FirewallProduct"}), wmi_.queries);

    std::vector<AntivirusProduct> scanners;
    ASSERT_EQ(S_OK, QueryAntivirusProducts(scanners, Locator()));
    ASSERT_EQ(3u, scanners.size());
    EXPECT_EQ("Stale", scanners[0].name);
    EXPECT_TRUE(scanners[0].onAccessScanningEnabled);
    EXPECT_FALSE(scanners[0].upToDate);
    EXPECT_FALSE(scanners[1].onAccessScanningEnabled);
    EXPECT_TRUE(scanners[1].upToDate);
    // A null state is reported once and counts as 0: off, current.
    EXPECT_FALSE(scanners[2].onAccessScanningEnabled);
    EXPECT_TRUE(scanners[2].upToDate);
    ASSERT_EQ(1u, presenter_.shown.size());
    EXPECT_EQ(L"Undesired type found", presenter_.shown[0].content);
    EXPECT_EQ(L"Error type", presenter_.shown[0].title);
    EXPECT_EQ(L"SELECT * FROM AntiVirusProduct", wmi_.queries.back());
    EXPECT_FALSE(AntivirusVerdict(Platform())) << "no product is both on and current";

    center.classes[L"AntiVirusProduct"].push_back(
        {{L"DisplayName", S(L"Good")}, {L"productState", I(0x61100)}});
    EXPECT_TRUE(AntivirusVerdict(Platform()));
}

TEST_F(SecurityProductsTest, WindowsXpSecurityCenterNamesItsProperties)
{
    FakeNamespace& center = spaces_[L"root\\SecurityCenter"];
    center.classes[L"FirewallProduct"] = {{{L"DisplayName", S(L"XP Wall")},
                                           {L"Enabled", B(true)},
                                           {L"CompanyName", S(L"Wall Co")},
                                           {L"VersionNumber", S(L"3.1")},
                                           {L"productState", I(0)}}};
    center.classes[L"AntiVirusProduct"] = {{{L"DisplayName", S(L"XP Scan")},
                                            {L"onAccessScanningEnabled", B(true)},
                                            {L"productUptoDate", I(1)}, // not a boolean: not up to date
                                            {L"CompanyName", S(L"Scan Co")},
                                            {L"VersionNumber", S(L"9.0")}}};

    std::vector<FirewallProduct> walls;
    ASSERT_EQ(S_OK, QueryFirewallProducts(walls, Locator()));
    EXPECT_EQ((std::vector<std::wstring>{L"root\\SecurityCenter2", L"root\\SecurityCenter"}),
              wmi_.namespaces);
    ASSERT_EQ(1u, walls.size());
    EXPECT_TRUE(walls[0].enabled);
    EXPECT_EQ("XP Wall", walls[0].name);
    EXPECT_EQ("Wall Co", walls[0].company);
    EXPECT_EQ("3.1", walls[0].version);

    std::vector<AntivirusProduct> scanners;
    ASSERT_EQ(S_OK, QueryAntivirusProducts(scanners, Locator()));
    ASSERT_EQ(1u, scanners.size());
    EXPECT_TRUE(scanners[0].onAccessScanningEnabled);
    EXPECT_FALSE(scanners[0].upToDate);
    EXPECT_EQ("Scan Co", scanners[0].company);
    EXPECT_EQ("9.0", scanners[0].version);
    EXPECT_TRUE(presenter_.shown.empty()) << "the XP properties are no integers";
    EXPECT_FALSE(AntivirusVerdict(Platform()));
}

TEST_F(SecurityProductsTest, NoNamespaceNoProductOrABrokenListFail)
{
    std::vector<FirewallProduct> walls = {{true, "", "left over", ""}};
    EXPECT_EQ(kNoNamespace, QueryFirewallProducts(walls, Locator()));
    EXPECT_TRUE(walls.empty());
    EXPECT_EQ(2u, wmi_.namespaces.size());
    EXPECT_FALSE(FirewallVerdict(Platform()));
    EXPECT_FALSE(AntivirusVerdict(Platform()));

    FakeNamespace& center = spaces_[L"root\\SecurityCenter2"];
    center.classes[L"FirewallProduct"] = {};
    EXPECT_EQ(kNoProduct, QueryFirewallProducts(walls, Locator()));
    EXPECT_FALSE(FirewallVerdict(Platform()));
    std::vector<AntivirusProduct> scanners;
    EXPECT_EQ(kWmiInvalidClass, QueryAntivirusProducts(scanners, Locator())) << "the class is missing";

    // The list breaks after one product that is on: what came is kept, but the query failed.
    center.classes[L"FirewallProduct"] = {{{L"DisplayName", S(L"On")}, {L"productState", I(0x1000)}},
                                          {{L"DisplayName", S(L"Unseen")}, {L"productState", I(0x1000)}}};
    center.failAt = 1;
    EXPECT_EQ(kNoProduct, QueryFirewallProducts(walls, Locator()));
    ASSERT_EQ(1u, walls.size());
    EXPECT_EQ("On", walls[0].name);
    EXPECT_FALSE(FirewallVerdict(Platform()));
    center.failAt = static_cast<size_t>(-1);
    EXPECT_TRUE(FirewallVerdict(Platform()));

    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              QueryFirewallProducts(walls, [](IWbemLocator**) { return REGDB_E_CLASSNOTREG; }));
}

TEST_F(SecurityProductsTest, WindowsFirewallFirstThenTheProducts)
{
    bool enabled = false;
    firewall_.enabled = true;
    EXPECT_EQ(S_OK, GetWindowsFirewallEnabled(&enabled, Platform().createFirewallManager));
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(FirewallVerdict(Platform()));
    EXPECT_EQ(0, wmi_.locatorsMade) << "an enabled Windows firewall needs no product list";

    const std::pair<const char*, HRESULT> failures[] = {
        {"policy", E_OUTOFMEMORY},
        {"profile", HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE)},
        {"flag", E_ACCESSDENIED}};
    for (const auto& [step, hr] : failures) {
        firewall_.failing = step;
        enabled = false;
        EXPECT_EQ(hr, GetWindowsFirewallEnabled(&enabled, Platform().createFirewallManager)) << step;
        EXPECT_FALSE(enabled) << step;
        EXPECT_FALSE(FirewallVerdict(Platform())) << "a failed read is not an enabled firewall: " << step;
    }
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              GetWindowsFirewallEnabled(&enabled, [](INetFwMgr**) { return REGDB_E_CLASSNOTREG; }));

    // Windows firewall off (or unreadable) but another vendor's firewall on: passes.
    spaces_[L"root\\SecurityCenter2"].classes[L"FirewallProduct"] = {
        {{L"DisplayName", S(L"Vendor")}, {L"productState", I(0x41000)}}};
    EXPECT_TRUE(FirewallVerdict(Platform()));
    firewall_.failing = "";
    firewall_.enabled = false;
    EXPECT_TRUE(FirewallVerdict(Platform()));
    spaces_[L"root\\SecurityCenter2"].classes[L"FirewallProduct"][0][L"productState"] = I(0x40100);
    EXPECT_FALSE(FirewallVerdict(Platform()));
}

TEST_F(SecurityProductsTest, AutomaticUpdatesAreOnAboveLevelOne)
{
    const std::pair<int, bool> levels[] = {{0, false}, {1, false}, {2, true}, {3, true}, {4, true}};
    for (const auto& [level, on] : levels) {
        updateLevel_ = level;
        int read = -7;
        EXPECT_EQ(on, GetAutomaticUpdatesOn(&read, Platform().createAutomaticUpdates)) << level;
        EXPECT_EQ(level, read);
        EXPECT_EQ(on, WindowsUpdateVerdict(Platform())) << level;
    }
    updateLevel_ = -1; // unreadable settings
    int read = -7;
    EXPECT_FALSE(GetAutomaticUpdatesOn(&read, Platform().createAutomaticUpdates));
    EXPECT_EQ(-7, read);
    EXPECT_FALSE(GetAutomaticUpdatesOn(&read, [](IAutomaticUpdates**) { return REGDB_E_CLASSNOTREG; }));
}

TEST_F(SecurityProductsTest, WhatWinesOwnObjectsAnswer)
{
    // Wine has no Security Center, a firewall manager that always says off and update settings
    // that cannot be read: every verdict fails, through the system's own objects.
    std::vector<FirewallProduct> walls;
    EXPECT_EQ(kNoNamespace, QueryFirewallProducts(walls));
    std::vector<AntivirusProduct> scanners;
    EXPECT_EQ(kNoNamespace, QueryAntivirusProducts(scanners));
    bool enabled = true;
    EXPECT_EQ(S_OK, GetWindowsFirewallEnabled(&enabled));
    EXPECT_FALSE(enabled);
    int level = -7;
    EXPECT_FALSE(GetAutomaticUpdatesOn(&level));
    EXPECT_EQ(-7, level);
    EXPECT_FALSE(FirewallVerdict());
    EXPECT_FALSE(AntivirusVerdict());
    EXPECT_FALSE(WindowsUpdateVerdict());
    EXPECT_TRUE(presenter_.shown.empty());
}

} // namespace

#include "checks/check_fix_trust_win.h"
#include "common/text_win.h"

#include "registry_test_support.h"
#include "zone_fakes.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr wchar_t kDomain[] = L"velmora-bank.test";
const std::wstring kUserSiteKey = std::wstring(kUserDomainsKey) + L"\\velmora-bank.test\\www";

enum class Mapping { None, UserTrusted, UserInternet, MachineTrusted };
constexpr REGSAM kBothViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

class TrustTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(zones);
        saved.cbSize = sizeof saved;
        ASSERT_HRESULT_SUCCEEDED(zones->GetZoneAttributes(kTrustedSitesZone, &saved));
        Clean();
    }
    void TearDown() override
    {
        Clean();
        zones->SetZoneAttributes(kTrustedSitesZone, &saved);
    }
    static void Clean()
    {
        DeleteTree(HKEY_CURRENT_USER, std::wstring(kUserDomainsKey) + L"\\" + kDomain);
        for (const REGSAM view : kBothViews) {
            DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kMachineZoneMapKey) + L"\\Domains", view);
            DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kMachineZoneMapKey) + L"\\EscDomains", view);
        }
    }
    void RequireHttps(bool on)
    {
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        ASSERT_HRESULT_SUCCEEDED(zones->GetZoneAttributes(kTrustedSitesZone, &attributes));
        attributes.dwFlags = on ? attributes.dwFlags | ZAFLAGS_REQUIRE_VERIFICATION
                                : attributes.dwFlags & ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION);
        ASSERT_HRESULT_SUCCEEDED(zones->SetZoneAttributes(kTrustedSitesZone, &attributes));
    }
    bool HttpsRequired()
    {
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        return SUCCEEDED(zones->GetZoneAttributes(kTrustedSitesZone, &attributes)) &&
               (attributes.dwFlags & ZAFLAGS_REQUIRE_VERIFICATION);
    }

    ComPtr<IInternetZoneManager> zones = RealZoneManager();
    ZONEATTRIBUTES saved{};
};

TEST_F(TrustTest, SitesAreCheckedAndMovedIntoTrustedSitesThroughTheRealZoneMapping)
{
    struct Case {
        const char* what;
        const char* url;
        Mapping before;
        bool httpsRequired;
        bool refused;
        std::int32_t check, fix;
        std::vector<DWORD> calls; // zones of the SetZoneMapping calls, SZM_DELETE ones negated as 100 + zone
    } cases[] = {
        {"unmapped", "http://www.velmora-bank.test", Mapping::None, false, false, -2, 2, {2}},
        {"already trusted",
         "http://www.velmora-bank.test/login",
         Mapping::UserTrusted,
         false,
         false,
         2,
         2,
         {}},
        {"mapped to Internet",
         "http://www.velmora-bank.test",
         Mapping::UserInternet,
         false,
         false,
         -2,
         2,
         {2, 103, 2}},
        {"machine-wide mapping is removed",
         "http://www.velmora-bank.test",
         Mapping::MachineTrusted,
         false,
         false,
         -2,
         2,
         {2}},
        {"http while https is required",
         "http://www.velmora-bank.test",
         Mapping::None,
         true,
         false,
         -2,
         2,
         {2, 2}},
        {"https while https is required",
         "https://www.velmora-bank.test",
         Mapping::None,
         true,
         false,
         -2,
         2,
         {2}},
        {"refused while https is required",
         "http://www.velmora-bank.test",
         Mapping::None,
         true,
         true,
         -2,
         -2,
         {2, 2}},
        {"not a site", "velmora-bank", Mapping::None, false, false, -2, -2, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clean();
        RequireHttps(c.httpsRequired);
        const std::wstring scheme = std::string_view(c.url).starts_with("https") ? L"https" : L"http";
        if (c.before == Mapping::UserTrusted || c.before == Mapping::UserInternet) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kUserSiteKey, scheme.c_str(), REG_DWORD,
                               DwordBytes(c.before == Mapping::UserTrusted ? 2 : 3)));
        }
        if (c.before == Mapping::MachineTrusted) {
            // In both registry views: the process's own and the other bitness's browser's.
            for (const REGSAM view : kBothViews) {
                for (const wchar_t* list : {L"\\Domains\\", L"\\EscDomains\\"})
                    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, std::wstring(kMachineZoneMapKey) + list + kDomain,
                                       scheme.c_str(), REG_DWORD, DwordBytes(2), view));
            }
            DWORD zone = 0;
            ASSERT_EQ(RealSecurityManager()->MapUrlToZone(L"http://www.velmora-bank.test", &zone, 0), S_OK);
            ASSERT_EQ(zone, 2u) << "the machine mapping is seen before it is removed";
        }

        FakeSecurityManager security;
        if (c.refused)
            security.refused.insert(Utf8ToWide(c.url));
        CheckFixTrust handler(&security, zones.Get());
        ConfigEntry entry;
        entry.Text = c.url;
        EXPECT_EQ(handler.CheckEntry(entry), c.check);
        for (const REGSAM view : kBothViews) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineZoneMapKey) + L"\\Domains", view))
                << "view " << std::hex << view;
            EXPECT_FALSE(
                KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kMachineZoneMapKey) + L"\\EscDomains", view))
                << "view " << std::hex << view;
        }
        EXPECT_EQ(handler.FixEntry(entry), c.fix);

        std::vector<DWORD> calls;
        for (const auto& call : security.calls)
            calls.push_back(call.flags == SZM_DELETE ? 100 + call.zone : call.zone);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(handler.CheckEntry(entry), c.fix) << "the repair is what the real zone mapping answers";
        EXPECT_EQ(HttpsRequired(), c.httpsRequired) << "the https requirement is left as it was";
    }
}

} // namespace
} // namespace Velmora::Assistant

#include "checks/zone_level_win.h"

#include "registry_test_support.h"
#include "zone_fakes.h"

#include <gtest/gtest.h>

#include <map>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr DWORD kZones[] = {3, 2, 4};

// A level other than the recommended one, and a template key whose one policy shows the copy.
class ZoneLevelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(real);
        for (DWORD zone : kZones) {
            ZONEATTRIBUTES& attributes = saved[zone];
            attributes.cbSize = sizeof attributes;
            ASSERT_HRESULT_SUCCEEDED(real->GetZoneAttributes(zone, &attributes));
            ASSERT_NE(TemplateLevelNumber(attributes.dwTemplateRecommended), 0) << "zone " << zone;
        }
    }
    void TearDown() override
    {
        for (auto& [zone, attributes] : saved) {
            real->SetZoneAttributes(zone, &attributes);
            ScopedRegKey key;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, FakeZoneManager::ZoneKey(zone).c_str(), 0, KEY_SET_VALUE,
                              key.Receive()) == ERROR_SUCCESS)
                RegDeleteValueW(key.Get(), kMarker);
        }
        DeleteTree(HKEY_LOCAL_MACHINE, FakeZoneManager::kTemplatesKey);
    }
    void MoveAway(DWORD zone)
    {
        ZONEATTRIBUTES attributes = saved[zone];
        attributes.dwTemplateCurrentLevel =
            attributes.dwTemplateRecommended == URLTEMPLATE_LOW ? URLTEMPLATE_HIGH : URLTEMPLATE_LOW;
        ASSERT_HRESULT_SUCCEEDED(real->SetZoneAttributes(zone, &attributes));
        const std::wstring templateKey = std::wstring(FakeZoneManager::kTemplatesKey) + L"\\" +
                                         FakeZoneManager::TemplateName(attributes.dwTemplateRecommended);
        ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, templateKey, kMarker, REG_DWORD, DwordBytes(3)));
    }
    int CurrentLevel(DWORD zone)
    {
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        EXPECT_HRESULT_SUCCEEDED(real->GetZoneAttributes(zone, &attributes));
        return TemplateLevelNumber(attributes.dwTemplateCurrentLevel);
    }
    int Recommended(DWORD zone) { return TemplateLevelNumber(saved[zone].dwTemplateRecommended); }
    bool PoliciesCopied(DWORD zone)
    {
        return GetRaw(HKEY_CURRENT_USER, FakeZoneManager::ZoneKey(zone), kMarker) ==
               RawValue{REG_DWORD, DwordBytes(3)};
    }

    static constexpr wchar_t kMarker[] = L"1A00";
    ComPtr<IInternetZoneManager> real = RealZoneManager();
    std::map<DWORD, ZONEATTRIBUTES> saved;
};

TEST_F(ZoneLevelTest, ZonesAtTheirRecommendedLevelsPassAndAreLeftAlone)
{
    FakeZoneManager zones;
    EXPECT_TRUE(CheckZoneLevels(false, zones));
    EXPECT_TRUE(CheckZoneLevels(true, zones));
    EXPECT_EQ(zones.read, (std::vector<DWORD>{3, 2, 4, 3, 2, 4}));
    EXPECT_TRUE(zones.copied.empty());
}

TEST_F(ZoneLevelTest, AZoneAwayFromItsLevelFailsTheCheckAndIsRepaired)
{
    MoveAway(3);
    FakeZoneManager zones;
    EXPECT_FALSE(CheckZoneLevels(false, zones));
    EXPECT_EQ(zones.read, (std::vector<DWORD>{3, 2, 4})) << "the other zones are still read";
    EXPECT_NE(CurrentLevel(3), Recommended(3)) << "a check changes nothing";

    EXPECT_TRUE(CheckZoneLevels(true, zones));
    EXPECT_EQ(CurrentLevel(3), Recommended(3));
    EXPECT_EQ(zones.copied, (std::vector<std::pair<DWORD, DWORD>>{{saved[3].dwTemplateRecommended, 3}}));
    EXPECT_TRUE(PoliciesCopied(3));
    EXPECT_TRUE(CheckZoneLevels(false, zones));
}

TEST_F(ZoneLevelTest, FailuresToReadAreIgnoredAndFailuresToRepairAreReported)
{
    MoveAway(2);
    MoveAway(4);
    FakeZoneManager zones;
    zones.unreadable = {2};
    EXPECT_FALSE(CheckZoneLevels(false, zones)) << "zone 4 is still read and found away";
    zones.unreadable = {2, 4};
    EXPECT_TRUE(CheckZoneLevels(false, zones)) << "what cannot be read leaves the answer alone";
    EXPECT_EQ(zones.read, (std::vector<DWORD>{3, 2, 4, 3, 2, 4}));

    zones.unreadable.clear();
    zones.copyRefused = {2};
    EXPECT_FALSE(CheckZoneLevels(true, zones));
    EXPECT_EQ(CurrentLevel(4), Recommended(4)) << "a failed zone does not stop the next";
    EXPECT_TRUE(PoliciesCopied(4));
    EXPECT_FALSE(PoliciesCopied(2));
}

// A check that cannot run does not pass: no manager, whether refused or handed out empty.
TEST(ZoneLevels, AManagerThatCannotBeMadeFailsCheckAndRepair)
{
    const ZoneManagerMaker makers[] = {
        [](IInternetZoneManager** zones) {
            *zones = nullptr;
            return REGDB_E_CLASSNOTREG;
        },
        [](IInternetZoneManager** zones) {
            *zones = nullptr;
            return S_OK;
        },
    };
    for (const ZoneManagerMaker make : makers) {
        EXPECT_FALSE(CheckZoneLevels(false, make));
        EXPECT_FALSE(CheckZoneLevels(true, make));
    }
}

} // namespace
} // namespace Velmora::Assistant

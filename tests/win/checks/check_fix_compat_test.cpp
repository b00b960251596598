#include "checks/check_fix_compat_win.h"
#include "checks/user_filter.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr wchar_t kEmulationKey[] = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
constexpr wchar_t kListKey[] = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";

std::string ListOf(std::initializer_list<std::u16string_view> domains)
{
    std::string data = EmptyUserFilter();
    for (std::u16string_view domain : domains)
        AppendUserFilter(data, domain);
    return data;
}

std::uint32_t At32(const std::string& data, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

// Reads a value of any size, unlike GetRaw.
RawValue Stored(HKEY root = HKEY_CURRENT_USER)
{
    ScopedRegKey key;
    DWORD size = 0;
    DWORD type = REG_NONE;
    if (RegOpenKeyExW(root, kListKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), L"UserFilter", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::string data(size, '\0');
    RegQueryValueExW(key.Get(), L"UserFilter", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    return {type, data};
}

class CompatibilityTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_CURRENT_USER, kEmulationKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kEmulationKey);
    }
    std::pair<std::int32_t, std::int32_t> CheckThenFix(const char* domain)
    {
        ConfigEntry entry;
        entry.Text = domain;
        EXPECT_EQ(handler.BeginCheck(), 2);
        const std::int32_t check = handler.CheckEntry(entry);
        return {check, handler.FixEntry(entry)};
    }

    CheckFixCompatibilityView handler;
};

TEST_F(CompatibilityTest, AllSitesModePassesEveryEntryWithoutWriting)
{
    struct Case {
        const char* what;
        std::optional<std::uint32_t> user, machine;
        std::int32_t check;
    } cases[] = {
        {"user's mode on", 1, std::nullopt, 2},
        {"machine's mode on", std::nullopt, 1, 2},
        {"user's mode off wins", 0, 1, -2},
        {"no mode", std::nullopt, std::nullopt, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clean();
        if (c.user) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kEmulationKey, L"AllSitesCompatibilityMode", REG_DWORD,
                               DwordBytes(*c.user)));
        }
        if (c.machine) {
            ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, kEmulationKey, L"AllSitesCompatibilityMode", REG_DWORD,
                               DwordBytes(*c.machine)));
        }
        const auto [check, fix] = CheckThenFix("bank.example.com");
        EXPECT_EQ(check, c.check);
        EXPECT_EQ(fix, 2);
        EXPECT_EQ(Stored().type == REG_NONE, c.check == 2) << "written only when every site is not shown";
    }
}

TEST_F(CompatibilityTest, TheFirstDomainMakesTheUserListAndIsFoundByPrefix)
{
    EXPECT_EQ(CheckThenFix("bank.example.com"), std::make_pair(-2, 2));
    const RawValue list = Stored();
    ASSERT_EQ(list.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(list.data.size(), 24u + 18 + 2 * 16);
    EXPECT_EQ(At32(list.data, 8), 1u);
    EXPECT_EQ(At32(list.data, 20), 1u);
    EXPECT_EQ(At32(list.data, 12), 30u + 2 * 16);

    EXPECT_EQ(CheckThenFix("BANK.example.com.cn"), std::make_pair(2, 2));
    EXPECT_EQ(CheckThenFix("pay.example.com"), std::make_pair(-2, 2));
    EXPECT_EQ(UserFilterDomains(Stored().data),
              (std::vector<std::u16string>{u"bank.example.com", u"pay.example.com"}));
}

TEST_F(CompatibilityTest, TheMachineListIsReadWhenTheUserHasNone)
{
    ASSERT_TRUE(
        SetRaw(HKEY_LOCAL_MACHINE, kListKey, L"UserFilter", REG_BINARY, ListOf({u"bank.example.com"})));
    EXPECT_EQ(CheckThenFix("bank.example.com"), std::make_pair(2, 2));
    EXPECT_EQ(Stored().type, static_cast<DWORD>(REG_NONE)) << "nothing written for a domain already listed";

    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kListKey, L"UserFilter", REG_BINARY, ListOf({u"pay.example.com"})));
    EXPECT_FALSE(InCompatList(L"bank.example.com")) << "the user's list decides once it exists";
}

TEST_F(CompatibilityTest, ALargeListIsExtendedWholeAndABrokenOneIsLeftAlone)
{
    std::string large = EmptyUserFilter();
    for (int i = 0; large.size() < 70 * 1024; ++i) {
        const std::string text = "site" + std::to_string(i) + ".example.com";
        ASSERT_TRUE(AppendUserFilter(large, std::u16string(text.begin(), text.end())));
    }
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kListKey, L"UserFilter", REG_BINARY, large));
    EXPECT_EQ(CheckThenFix("site0.example.com"), std::make_pair(2, 2));
    EXPECT_EQ(CheckThenFix("bank.example.com"), std::make_pair(-2, 2));
    std::string expected = large;
    ASSERT_TRUE(AppendUserFilter(expected, u"bank.example.com"));
    EXPECT_TRUE(Stored() == (RawValue{REG_BINARY, expected})) << "the whole list, one domain longer";

    std::string broken = ListOf({u"pay.example.com"});
    broken[8] = 5; // counts more records than it holds
    const RawValue cases[] = {{REG_BINARY, broken}, {REG_SZ, TextBytes(L"pay.example.com")}};
    for (const RawValue& before : cases) {
        ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kListKey, L"UserFilter", before.type, before.data));
        EXPECT_EQ(CheckThenFix("bank.example.com"), std::make_pair(-2, -2));
        EXPECT_TRUE(Stored() == before) << "left as it was";
    }
}

} // namespace
} // namespace Velmora::Assistant

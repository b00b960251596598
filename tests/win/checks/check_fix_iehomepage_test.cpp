#include "checks/check_fix_iehomepage_win.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <optional>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";

TEST(IEHomepage, OnlyANonzeroPolicyNumberFailsAndIsDeleted)
{
    struct Case {
        const char* what;
        bool key;
        std::optional<RawValue> value;
        std::int32_t check;
        RawValue after;
    } cases[] = {
        {"no policy key", false, std::nullopt, 2, {}},
        {"no value", true, std::nullopt, 2, {}},
        {"zero", true, RawValue{REG_DWORD, DwordBytes(0)}, 2, {REG_DWORD, DwordBytes(0)}},
        {"one", true, RawValue{REG_DWORD, DwordBytes(1)}, -2, {}},
        {"any nonzero", true, RawValue{REG_DWORD, DwordBytes(0x80000000u)}, -2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteTree(HKEY_CURRENT_USER, kPolicyKey);
        if (c.key) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Other", REG_DWORD, DwordBytes(7)));
        }
        if (c.value) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Homepage", c.value->type, c.value->data));
        }
        CheckFixIEHomepage handler;
        EXPECT_EQ(handler.BeginCheck(), c.check);
        EXPECT_EQ(handler.BeginFix(), 2);
        EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Homepage"), c.after);
        EXPECT_EQ(handler.BeginCheck(), 2);
        if (c.key) {
            EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Other"), (RawValue{REG_DWORD, DwordBytes(7)}));
        }
        ConfigEntry entry;
        EXPECT_EQ(handler.CheckEntry(entry), -1);
        EXPECT_EQ(handler.FixEntry(entry), -1);
    }
    DeleteTree(HKEY_CURRENT_USER, kPolicyKey);
}

} // namespace
} // namespace Velmora::Assistant

#include "app/settings_store_win.h"
#include "app/sync_object_win.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Velmora;

namespace {

class SettingsStoreTest : public testing::Test {
protected:
    SettingsStoreTest() : store_(kCompanyKey, L"VelmoraSettingsTest") { Clear(); }
    ~SettingsStoreTest() override { Clear(); }
    void Clear() { RegDeleteTreeW(HKEY_CURRENT_USER, store_.ProfileKey().c_str()); }

    // The raw registry value: type and bytes.
    std::pair<DWORD, std::string> Raw(const wchar_t* name)
    {
        const std::wstring key = store_.ProfileKey() + L"\\Settings";
        DWORD type = 0;
        char data[256] = {};
        DWORD bytes = sizeof data;
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                         &bytes) != ERROR_SUCCESS)
            return {REG_NONE, {}};
        return {type, std::string(data, bytes)};
    }

    SettingsStore store_;
};

} // namespace

TEST_F(SettingsStoreTest, BooleansAreStoredAsMinusOneAndZero)
{
    ASSERT_TRUE(store_.WriteBool(kSettingsSection, L"IsFirstTime", true));
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"IsFirstTime", 5), -1);
    EXPECT_TRUE(store_.ReadBool(kSettingsSection, L"IsFirstTime", false));
    EXPECT_EQ(Raw(L"IsFirstTime"), std::make_pair(DWORD{REG_DWORD}, std::string("\xFF\xFF\xFF\xFF", 4)));

    ASSERT_TRUE(store_.WriteBool(kSettingsSection, L"IsFirstTime", false));
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"IsFirstTime", 5), 0);
    EXPECT_FALSE(store_.ReadBool(kSettingsSection, L"IsFirstTime", true));
}

TEST_F(SettingsStoreTest, AbsentOrMistypedValuesGiveTheCallersDefault)
{
    // Nothing stored at all, not even the key.
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"CloseType", 0), 0);
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"CloseType", 1), 1);
    EXPECT_TRUE(store_.ReadBool(kSettingsSection, L"IsFirstTime", true));
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"ConfigUrl", L""), L"");
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"keytype", L"XA"), L"XA");

    ASSERT_TRUE(store_.WriteString(kSettingsSection, L"update_time", L"7"));
    ASSERT_TRUE(store_.WriteInt(kSettingsSection, L"KeyType", 3));
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"update_time", 1), 1) << "a string is not an integer";
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"KeyType", L"none"), L"none")
        << "an integer is not a string";
    EXPECT_EQ(store_.ReadInt(kSettingsSection, L"AutoCheck", 1), 1) << "the key exists, the value does not";
}

TEST_F(SettingsStoreTest, IntegersAndStringsRoundTripWithTheirRegistryTypes)
{
    for (const int value : {0, 1, 30, -1, INT_MIN, INT_MAX}) {
        ASSERT_TRUE(store_.WriteInt(kSettingsSection, L"update_time", value));
        EXPECT_EQ(store_.ReadInt(kSettingsSection, L"update_time", 12345), value);
    }
    EXPECT_EQ(Raw(L"update_time").first, DWORD{REG_DWORD});

    const std::wstring date = L"2026年12月08日 20:15";
    ASSERT_TRUE(store_.WriteString(kSettingsSection, L"LastTimeCheck", date));
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"LastTimeCheck", L""), date);
    EXPECT_EQ(Raw(L"LastTimeCheck").first, DWORD{REG_SZ});
    ASSERT_TRUE(store_.WriteString(kSettingsSection, L"LastTimeCheck", L""));
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"LastTimeCheck", L"default"), L"")
        << "empty is not absent";

    // Written from outside: a long value without its terminator.
    const std::wstring url(300, L'u');
    const std::wstring key = store_.ProfileKey() + L"\\Settings";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"ConfigUrl", REG_SZ, url.data(),
                              static_cast<DWORD>(url.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(store_.ReadString(kSettingsSection, L"ConfigUrl", L""), url);
}

TEST(SettingsStore, TheProgramsStoreIsNamedAfterTheExecutable)
{
    EXPECT_EQ(ProgramSettings().ProfileKey(), L"Software\\Velmora\\app_win_tests");
}

TEST(Mutex, CreationOutcomes)
{
    const wchar_t* name = L"velmora-test-mutex-outcomes";
    Mutex first;
    ASSERT_EQ(first.Create(name, true), S_OK);
    Mutex second;
    EXPECT_EQ(second.Create(name, true), S_FALSE) << "the object already existed";
    EXPECT_NE(second.Handle(), nullptr);
    first.Close();
    second.Close();
    EXPECT_EQ(first.Create(name, true), S_OK) << "closing every handle ends the object";

    // The name is taken by an object of another kind: the system reports an invalid handle.
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"velmora-test-event-name");
    ASSERT_NE(event, nullptr);
    Mutex clash;
    EXPECT_EQ(clash.Create(L"velmora-test-event-name", true), E_INVALIDARG);
    EXPECT_EQ(clash.Handle(), nullptr);
    CloseHandle(event);

    SynchronizationObject object;
    EXPECT_EQ(object.TakeCreated(nullptr, ERROR_ACCESS_DENIED), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(object.TakeCreated(INVALID_HANDLE_VALUE, ERROR_INVALID_HANDLE), E_INVALIDARG);
    EXPECT_TRUE(FAILED(object.TakeCreated(nullptr, ERROR_SUCCESS))) << "no handle is never success";
}

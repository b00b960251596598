#include "checks/check_fix_clsid_win.h"

#include "checks/digest.h"
#include "checks/file_spec_win.h"
#include "common/text_win.h"
#include "registry_test_support.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr char kClsid[] = "{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E97}";
constexpr wchar_t kClassKey[] = L"CLSID\\{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E97}";
constexpr wchar_t kServerKey[] = L"CLSID\\{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E97}\\InprocServer32";
constexpr wchar_t kSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E97}";
constexpr wchar_t kOtherSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E98}";

std::wstring Versioned(const char* name)
{
    std::wstring path = Utf8ToWide(std::string(VELMORA_CHECKS_PE) + "/version_" + name + ".exe");
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

ConfigEntry Control(std::initializer_list<std::pair<const char*, const char*>> attributes,
                    const char* clsid = kClsid)
{
    ConfigEntry entry;
    entry.Text = clsid;
    for (const auto& [name, value] : attributes)
        entry.Attributes.Set(name, value);
    return entry;
}

class ComHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_CLASSES_ROOT, kClassKey);
        DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
        DeleteTree(HKEY_CURRENT_USER, kOtherSettingsKey);
    }
    static void Register(const std::wstring& path, DWORD type = REG_SZ)
    {
        ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, kServerKey, L"", type, TextBytes(path)));
    }
    static void SetFlags(const wchar_t* key, std::uint32_t flags)
    {
        ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, key, L"Flags", REG_DWORD, DwordBytes(flags)));
    }

    CheckFixCOM handler;
};

TEST_F(ComHandlerTest, RegisteredServerFileMustMeetVersionAndDigest)
{
    const std::string md5 = FileDigestHex(Versioned("8_0_0_0"), kDigestMd5);
    ASSERT_EQ(md5.size(), 32u);
    struct Case {
        const char* file;
        const char* version;
        const char* md5;
        std::int32_t check, fix;
    } cases[] = {
        {"8_0_0_0", ">=8.0", "", 2, 2},
        {"8_0_0_0", "", "", 2, 2},
        {"8_0_0_0", "8.0.0.0", md5.c_str(), 2, 2},
        {"8_0_0_0", "9.0", "", 1, 1}, // only its installer can bring another version
        {"7_9_9_9", ">=8.0", "", 1, 1},
        {"none", ">=1.0", "", 1, 1},
        {"8_0_0_0", "", "0123456789abcdef0123456789abcdef", 1, 1},
        {"0_0_0_0", "", "", -2, -1}, // registered, but its file is gone
    };
    for (const Case& c : cases) {
        Register(Versioned(c.file));
        ConfigEntry entry = Control({{"version", c.version}, {"md5", c.md5}});
        EXPECT_EQ(handler.CheckEntry(entry), c.check) << c.file << " version '" << c.version << "'";
        EXPECT_EQ(handler.FixEntry(entry), c.fix) << c.file << " version '" << c.version << "'";
    }
}

TEST_F(ComHandlerTest, ExpandableServerPathIsExpanded)
{
    std::wstring folder = Versioned("8_0_0_0");
    folder.resize(folder.rfind(L'\\'));
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_TEST_PE", folder.c_str()));
    Register(L"%VELMORA_TEST_PE%\\version_8_0_0_0.exe", REG_EXPAND_SZ);
    ConfigEntry entry = Control({{"version", "8.0.0.0"}});
    EXPECT_EQ(handler.CheckEntry(entry), 2);
    SetEnvironmentVariableW(L"VELMORA_TEST_PE", nullptr);
}

TEST_F(ComHandlerTest, SwitchedOffAddOnIsRepairedByRemovingItsSettings)
{
    Register(Versioned("8_0_0_0"));
    ConfigEntry entry = Control({{"version", ">=8.0"}});

    SetFlags(kSettingsKey, 0);
    EXPECT_EQ(handler.CheckEntry(entry), 2) << "Flags 0 is switched on";

    SetFlags(kSettingsKey, 1);
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, std::wstring(kSettingsKey) + L"\\iexplore", L"Count", REG_DWORD,
                       DwordBytes(3)));
    SetFlags(kOtherSettingsKey, 1);
    EXPECT_EQ(handler.CheckEntry(entry), -3);

    entry.State = 2; // the repair looks for itself
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kOtherSettingsKey)) << "another add-on's settings stay";
    EXPECT_EQ(handler.CheckEntry(entry), 2);

    // A switched-off add-on in the wrong version is first of all in the wrong version.
    SetFlags(kSettingsKey, 1);
    ConfigEntry newer = Control({{"version", ">=9.0"}});
    EXPECT_EQ(handler.CheckEntry(newer), 1);
    EXPECT_EQ(handler.FixEntry(newer), 1);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(ComHandlerTest, UnregisteredControlIsMissingAndItsRepairIsTheInstallers)
{
    SetFlags(kSettingsKey, 1);
    struct Case {
        const char* clsid;
        const char* label;
    } cases[] = {
        {kClsid, "not registered"},
        {"", "empty identifier"},
        {"{6B1C3E52-4A7D-4E2B-9F10-5C3D2A1B0E97}\\..", "not one key name"},
    };
    for (const Case& c : cases) {
        ConfigEntry entry = Control({}, c.clsid);
        entry.State = 2;
        EXPECT_EQ(handler.CheckEntry(entry), -2) << c.label;
        EXPECT_EQ(handler.FixEntry(entry), -1) << c.label;
    }
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "nothing to switch on for a missing control";

    // A class key without a server path is not registered either.
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, kServerKey, L"ThreadingModel", REG_SZ, TextBytes(L"Apartment")));
    ConfigEntry entry = Control({});
    EXPECT_EQ(handler.CheckEntry(entry), -2);
    EXPECT_EQ(handler.FixEntry(entry), -1);
}

} // namespace
} // namespace Velmora::Assistant

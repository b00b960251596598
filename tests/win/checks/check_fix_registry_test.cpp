#include "checks/check_fix_clsid_win.h"
#include "checks/check_fix_file_win.h"
#include "checks/check_fix_registry_win.h"
#include "checks/scoped_redirection_win.h"
#include "common/text_win.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr wchar_t kKey[] = L"Software\\VelmoraRegistryTest";
constexpr char kEntryKey[] = "HKCU\\Software\\VelmoraRegistryTest";
constexpr wchar_t kMachineKey[] = L"SOFTWARE\\VelmoraRegistryTest";
constexpr wchar_t kClassesKey[] = L"VelmoraRegistryTest";
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

ConfigEntry Entry(const std::string& text,
                  std::initializer_list<std::pair<const char*, const char*>> attributes)
{
    ConfigEntry entry;
    entry.Text = text;
    for (const auto& [name, value] : attributes)
        entry.Attributes.Set(name, value);
    return entry;
}

RawValue Dword(std::uint32_t value)
{
    return {REG_DWORD, DwordBytes(value)};
}

class RegistryHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_CURRENT_USER, kKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kMachineKey, KEY_WOW64_64KEY);
        DeleteTree(HKEY_LOCAL_MACHINE, kMachineKey, KEY_WOW64_32KEY);
        DeleteTree(HKEY_CLASSES_ROOT, kClassesKey);
    }
    static RawValue Stored(const wchar_t* name = L"Value") { return GetRaw(HKEY_CURRENT_USER, kKey, name); }

    CheckFixRegistry handler;
};

TEST_F(RegistryHandlerTest, DwordEntriesCompareAndRepairUnderTheirMask)
{
    struct Case {
        const char* value;
        const char* mask; // null: no mask
        std::optional<std::uint32_t> stored;
        std::int32_t check;
        std::uint32_t repaired;
    } cases[] = {
        {"1", "1", 3, 2, 3},
        {"1", "1", 2, -2, 3},            // the bit outside the mask keeps its state
        {"5", "1", std::nullopt, -2, 5}, // neither key nor value: both made, the value written whole
        {"-1", nullptr, 0xFFFFFFFFu, 2, 0xFFFFFFFFu},
        {"-1", nullptr, 0, -2, 0xFFFFFFFFu},
        {"0x10", nullptr, 0x10, -2, 0}, // not read as hexadecimal
        {"0", "6", 7, -2, 1},
        {"4294967295", "", 0, -2, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        Clean();
        if (c.stored) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Value", REG_DWORD, DwordBytes(*c.stored)));
        }
        ConfigEntry entry = Entry(kEntryKey, {{"name", "Value"}, {"type", "reg_dword"}, {"value", c.value}});
        if (c.mask)
            entry.Attributes.Set("mask", c.mask);
        const std::string label = std::string("value ") + c.value + " mask " + (c.mask ? c.mask : "-");
        EXPECT_EQ(handler.CheckEntry(entry), c.check) << label;
        EXPECT_EQ(handler.FixEntry(entry), 2) << label;
        EXPECT_EQ(Stored(), Dword(c.repaired)) << label;
        EXPECT_EQ(handler.CheckEntry(entry), 2) << label;
    }
}

TEST_F(RegistryHandlerTest, StringsCompareCaseSensitivelyAndAreRewritten)
{
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Value", REG_SZ, TextBytes(L"Yes")));
    ConfigEntry entry = Entry(kEntryKey, {{"name", "Value"}, {"type", "reg_sz"}, {"value", "yes"}});
    EXPECT_EQ(handler.CheckEntry(entry), -2);
    EXPECT_EQ(handler.FixEntry(entry), 2);
    EXPECT_EQ(Stored(), (RawValue{REG_SZ, TextBytes(L"yes")}));
    EXPECT_EQ(handler.CheckEntry(entry), 2);

    // Stored without its terminator, as other programs may write it.
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Value", REG_SZ, std::string("y\0e\0s\0", 6)));
    EXPECT_EQ(handler.CheckEntry(entry), 2);

    // The default value, with text that is not ASCII.
    ConfigEntry unnamed = Entry(kEntryKey, {{"type", "reg_sz"}, {"value", "\xe7\xbd\x91\xe9\x93\xb6"}});
    EXPECT_EQ(handler.CheckEntry(unnamed), -2);
    EXPECT_EQ(handler.FixEntry(unnamed), 2);
    EXPECT_EQ(Stored(L""), (RawValue{REG_SZ, TextBytes(L"\u7f51\u94f6")}));
    EXPECT_EQ(handler.CheckEntry(unnamed), 2);
}

TEST_F(RegistryHandlerTest, BinaryValuesCompareByteForByte)
{
    struct Case {
        const char* value;
        std::optional<std::string> stored;
        std::int32_t check;
    } cases[] = {
        {"0aFf1", std::string("\x0a\xff"), 2},    // the odd last digit is dropped
        {"0affzz99", std::string("\x0a\xff"), 2}, // decoding stops at the first non-hex character
        {"0aff", std::string("\x0a\xff\x00", 3), -2},
        {"0aff", std::string("\x0a"), -2}, // a stored prefix of the data is not the data
        {"0AFF", std::nullopt, -2},
    };
    for (const Case& c : cases) {
        Clean();
        if (c.stored) {
            ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Value", REG_BINARY, *c.stored));
        }
        ConfigEntry entry = Entry(kEntryKey, {{"name", "Value"}, {"type", "reg_binary"}, {"value", c.value}});
        EXPECT_EQ(handler.CheckEntry(entry), c.check) << c.value;
        EXPECT_EQ(handler.FixEntry(entry), 2) << c.value;
        EXPECT_EQ(Stored(), (RawValue{REG_BINARY, "\x0a\xff"})) << c.value;
    }
}

TEST_F(RegistryHandlerTest, ValueOfAnotherTypeIsNeverOverwritten)
{
    struct Case {
        const char* type;
        const char* value;
        RawValue stored;
    } cases[] = {
        {"reg_dword", "1", {REG_SZ, TextBytes(L"1")}},
        {"reg_dword", "1", {REG_BINARY, DwordBytes(1)}},
        {"reg_dword", "1", {REG_DWORD, std::string("\x01\x00", 2)}}, // not a 32-bit number
        {"reg_sz", "a", {REG_EXPAND_SZ, TextBytes(L"a")}},
        {"reg_sz", "a", {REG_MULTI_SZ, TextBytes(L"a") + std::string(2, '\0')}},
        {"reg_binary", "01000000", Dword(1)},
    };
    for (const Case& c : cases) {
        Clean();
        ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Value", c.stored.type, c.stored.data));
        ConfigEntry entry = Entry(kEntryKey, {{"name", "Value"}, {"type", c.type}, {"value", c.value}});
        EXPECT_EQ(handler.CheckEntry(entry), -2) << c.type << " over type " << c.stored.type;
        EXPECT_EQ(handler.FixEntry(entry), -2) << c.type << " over type " << c.stored.type;
        EXPECT_EQ(Stored(), c.stored) << c.type << " over type " << c.stored.type;
    }
}

TEST_F(RegistryHandlerTest, OtherTypesOnlyHaveToExist)
{
    for (const char* type : {"", "reg_multi_sz", "reg_qword"}) {
        Clean();
        ConfigEntry entry = Entry(kEntryKey + std::string("\\Sub"), {{"name", "Value"}, {"value", "7"}});
        entry.Attributes.Set("type", type);
        EXPECT_EQ(handler.CheckEntry(entry), -2) << type;
        EXPECT_EQ(handler.FixEntry(entry), -2) << type;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::wstring(kKey) + L"\\Sub"))
            << "nothing is made for " << type;

        // Any data of any size, larger than any buffer a reader might pick.
        ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, std::wstring(kKey) + L"\\Sub", L"Value", REG_BINARY,
                           std::string(5000, 'x')));
        EXPECT_EQ(handler.CheckEntry(entry), 2) << type;
        EXPECT_EQ(handler.FixEntry(entry), 2) << type;
    }
}

TEST_F(RegistryHandlerTest, EntryTextNamesRootAndSubkey)
{
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Probe", REG_DWORD, DwordBytes(1)));
    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, kMachineKey, L"Probe", REG_DWORD, DwordBytes(2)));
    ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, kClassesKey, L"Probe", REG_DWORD, DwordBytes(3)));
    struct Case {
        const char* text;
        const char* value;
        std::int32_t expected;
    } cases[] = {
        {"HKCU\\Software\\VelmoraRegistryTest", "1", 2},
        {"hkey_current_user\\Software\\VelmoraRegistryTest", "1", 2},
        {"HKLM\\SOFTWARE\\VelmoraRegistryTest", "2", 2},
        {"HKLM\\SOFTWARE\\VelmoraRegistryTest", "1", -2},
        {"Hkey_Local_Machine\\SOFTWARE\\VelmoraRegistryTest", "2", 2},
        {"HKCR\\VelmoraRegistryTest", "3", 2},
        {"HKEY_CLASSES_ROOT\\VelmoraRegistryTest", "3", 2},
        {"HKU\\Software\\VelmoraRegistryTest", "1", 2}, // an unknown root is the current user
        {"HKCU", "1", -2},                              // no backslash, no key
        {"", "1", -2},
    };
    for (const Case& c : cases) {
        ConfigEntry entry = Entry(c.text, {{"name", "Probe"}, {"type", "reg_dword"}, {"value", c.value}});
        EXPECT_EQ(handler.CheckEntry(entry), c.expected) << c.text << " = " << c.value;
    }
    ConfigEntry noKey = Entry("HKCU", {{"name", "Probe"}, {"type", "reg_dword"}, {"value", "1"}});
    EXPECT_EQ(handler.FixEntry(noKey), -2);
}

// Remembers the policy value and whether its key existed, and puts both back.
class PolicyGuard {
public:
    PolicyGuard()
        : keyExisted_(KeyExists(HKEY_CURRENT_USER, kPolicyKey)),
          saved_(GetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools"))
    {
    }
    ~PolicyGuard()
    {
        if (!keyExisted_) {
            DeleteTree(HKEY_CURRENT_USER, kPolicyKey);
            return;
        }
        ScopedRegKey key;
        RegOpenKeyExW(HKEY_CURRENT_USER, kPolicyKey, 0, KEY_SET_VALUE, key.Receive());
        RegDeleteValueW(key.Get(), L"Disableregistrytools");
        if (saved_.type != REG_NONE)
            SetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools", saved_.type, saved_.data);
    }
    PolicyGuard(const PolicyGuard&) = delete;
    PolicyGuard& operator=(const PolicyGuard&) = delete;

private:
    bool keyExisted_;
    RawValue saved_;
};

TEST_F(RegistryHandlerTest, DisabledRegistryToolsFailTheGroupUntilTheRepairLiftsThePolicy)
{
    PolicyGuard policy;
    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kKey, L"Kept", REG_DWORD, DwordBytes(1)));
    std::vector<ConfigEntry> group = {
        Entry(kEntryKey, {{"name", "Kept"}, {"type", "reg_dword"}, {"value", "1"}}),
        Entry(kEntryKey, {{"name", "Made"}, {"type", "reg_dword"}, {"value", "4"}}),
    };

    for (const std::uint32_t disabled : {1u, 2u}) {
        ASSERT_TRUE(
            SetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools", REG_DWORD, DwordBytes(disabled)));
        for (ConfigEntry& entry : group)
            entry.State = 7;
        EXPECT_EQ(RunCheck(handler, group.data(), group.size(), false), -2) << disabled;
        EXPECT_EQ(group[0].State, 7) << "no entry is looked at";
        EXPECT_EQ(group[1].State, 7) << "no entry is looked at";
    }

    EXPECT_EQ(RunFix(handler, group.data(), group.size()), 2);
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools").type, DWORD{REG_NONE});
    EXPECT_EQ(Stored(L"Made"), Dword(4)) << "the entries are repaired once the policy is gone";
    EXPECT_EQ(RunCheck(handler, group.data(), group.size(), false), 2);

    ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools", REG_DWORD, DwordBytes(0)));
    EXPECT_EQ(RunCheck(handler, group.data(), group.size(), false), 2) << "0 does not disable anything";
    EXPECT_EQ(RunFix(handler, group.data(), group.size()), 2);
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kPolicyKey, L"Disableregistrytools"), Dword(0)) << "left as it was";
}

TEST_F(RegistryHandlerTest, TheViewReachesBothOpeningAndCreating)
{
    // The 32-bit view is the one a 32-bit process sees without `bit`, and the 64-bit view the one
    // `bit="64"` asks for; both are there to address on 64-bit Windows, from either kind of process.
    if (sizeof(void*) != 8 && !RunsUnderWow64())
        GTEST_SKIP() << "32-bit Windows has one registry view";
    const ConfigEntry entry = Entry("HKLM\\SOFTWARE\\VelmoraRegistryTest", {});
    for (const bool create : {true, false}) {
        for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
            ScopedRegKey key;
            ASSERT_EQ(OpenEntryKey(entry, view, create, &key), ERROR_SUCCESS) << view << " create " << create;
            const DWORD mark = view == KEY_WOW64_32KEY ? 32 : 64;
            ASSERT_EQ(RegSetValueExW(key.Get(), create ? L"Created" : L"Opened", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&mark), sizeof mark),
                      ERROR_SUCCESS);
        }
    }
    for (const wchar_t* name : {L"Created", L"Opened"}) {
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, kMachineKey, name, KEY_WOW64_32KEY), Dword(32))
            << WideToUtf8(name);
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, kMachineKey, name, KEY_WOW64_64KEY), Dword(64))
            << WideToUtf8(name);
    }
    if (sizeof(void*) == 8) {
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\VelmoraRegistryTest", L"Created"),
                  Dword(32))
            << "the 32-bit view is the Wow6432Node of the 64-bit one";
    }
}

// A 32-bit process on 64-bit Windows: needs a machine that executes 32-bit code.
TEST_F(RegistryHandlerTest, Bit64SelectsThe64BitViewUnderWow64)
{
    if (!RunsUnderWow64())
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";
    ASSERT_TRUE(
        SetRaw(HKEY_LOCAL_MACHINE, kMachineKey, L"Probe", REG_DWORD, DwordBytes(64), KEY_WOW64_64KEY));
    ASSERT_TRUE(
        SetRaw(HKEY_LOCAL_MACHINE, kMachineKey, L"Probe", REG_DWORD, DwordBytes(32), KEY_WOW64_32KEY));
    struct Case {
        const char* bit;
        const char* value;
        std::int32_t expected;
    } cases[] = {{"64", "64", 2}, {"64", "32", -2}, {"", "32", 2}, {"", "64", -2}, {"x64", "32", 2}};
    for (const Case& c : cases) {
        ConfigEntry entry =
            Entry("HKLM\\SOFTWARE\\VelmoraRegistryTest",
                  {{"name", "Probe"}, {"type", "reg_dword"}, {"value", c.value}, {"bit", c.bit}});
        EXPECT_EQ(handler.CheckEntry(entry), c.expected) << "bit '" << c.bit << "' value " << c.value;
    }
    ConfigEntry made = Entry("HKLM\\SOFTWARE\\VelmoraRegistryTest",
                             {{"name", "Made"}, {"type", "reg_dword"}, {"value", "5"}, {"bit", "64"}});
    EXPECT_EQ(handler.FixEntry(made), 2);
    EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, kMachineKey, L"Made", KEY_WOW64_64KEY), Dword(5));
    EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, kMachineKey, L"Made", KEY_WOW64_32KEY).type, DWORD{REG_NONE});
}

TEST(HandlerForType, ServesTheRegistryComAndFileTypes)
{
    EXPECT_NE(dynamic_cast<CheckFixRegistry*>(HandlerForType("registry")), nullptr);
    EXPECT_NE(dynamic_cast<CheckFixCOM*>(HandlerForType("clsid")), nullptr);
    EXPECT_NE(dynamic_cast<CheckFixFile*>(HandlerForType("file")), nullptr);
    EXPECT_EQ(HandlerForType("registry"), HandlerForType("registry")) << "one shared handler per type";
    EXPECT_EQ(HandlerForType("Registry"), nullptr);
    EXPECT_EQ(HandlerForType("com"), nullptr);
}

} // namespace
} // namespace Velmora::Assistant

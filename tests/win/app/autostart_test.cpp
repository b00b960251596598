#include "app/autostart_win.h"
#include "common/scoped_handle_win.h"

#include <gtest/gtest.h>

using namespace Velmora;

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RunValue {
    bool present = false;
    DWORD type = 0;
    std::wstring text;
};

RunValue ReadRunValue(const wchar_t* name)
{
    RunValue value;
    ScopedRegKey run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, run.Receive()) != ERROR_SUCCESS)
        return value;
    wchar_t data[1024] = {};
    DWORD bytes = sizeof data;
    if (RegQueryValueExW(run.Get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &bytes) !=
        ERROR_SUCCESS)
        return value;
    value.present = true;
    value.text.assign(data, bytes / sizeof(wchar_t));
    // The system stores the terminator itself when the data passed leaves it off.
    if (!value.text.empty() && value.text.back() == L'\0')
        value.text.pop_back();
    return value;
}

} // namespace

TEST(SetAutostart, WritesThePathUnquotedUnderTheBaseName)
{
    const wchar_t* path = L"C:\\My Apps\\v1.2\\VelmoraRunTest.setup.exe";
    SetAutostart(path, nullptr, false);
    ASSERT_TRUE(SetAutostart(path, nullptr, true));
    ASSERT_TRUE(SetAutostart(path, nullptr, true)) << "enabling twice is fine";
    RunValue value = ReadRunValue(L"VelmoraRunTest");
    ASSERT_TRUE(value.present);
    EXPECT_EQ(value.type, DWORD{REG_SZ});
    EXPECT_EQ(value.text, path) << "no quotes, nothing else";

    ASSERT_TRUE(SetAutostart(path, L"scan", true));
    EXPECT_EQ(ReadRunValue(L"VelmoraRunTest").text, std::wstring(path) + L" scan");

    EXPECT_TRUE(SetAutostart(path, nullptr, false));
    EXPECT_FALSE(ReadRunValue(L"VelmoraRunTest").present);
    EXPECT_FALSE(SetAutostart(path, nullptr, false)) << "nothing left to delete";
}

TEST(SetAutostart, PathsWithoutAnEntryNameChangeNothing)
{
    const RunValue defaultBefore = ReadRunValue(L"");
    EXPECT_FALSE(SetAutostart(nullptr, nullptr, true));
    EXPECT_FALSE(SetAutostart(L"", nullptr, true));
    EXPECT_FALSE(SetAutostart(L"C:\\Apps\\", nullptr, true));
    EXPECT_FALSE(SetAutostart(L"C:\\Apps\\.exe", L"x", true));
    const RunValue defaultAfter = ReadRunValue(L"");
    EXPECT_EQ(defaultAfter.present, defaultBefore.present) << "the key's default value must stay untouched";
    EXPECT_EQ(defaultAfter.text, defaultBefore.text);
}

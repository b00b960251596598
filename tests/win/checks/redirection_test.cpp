#include "checks/scoped_redirection_win.h"

#include "test_files.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

ConfigEntry WithBit(const char* bit)
{
    ConfigEntry entry;
    entry.Attributes.Set("bit", bit);
    return entry;
}

std::wstring System32(const wchar_t* name)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\system32\\" + name;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(ScopedRedirection, NothingToSwitchOutsideWow64)
{
    if (sizeof(void*) == 8) {
        EXPECT_FALSE(RunsUnderWow64()) << "a 64-bit process is never redirected";
    }
    if (RunsUnderWow64())
        GTEST_SKIP() << "the process runs under WOW64";

    // The same system32 is seen with and without the guard.
    const std::wstring probe = System32(L"velmora-redirection-probe.txt");
    ASSERT_TRUE(WriteBytes(probe, "native"));
    for (const char* bit : {"64", "32", ""}) {
        ScopedRedirection guard(WithBit(bit));
        EXPECT_FALSE(guard.Is64BitView()) << "bit " << bit;
        EXPECT_EQ(ReadBytes(probe), "native");
    }
    ScopedRedirection whole;
    EXPECT_FALSE(whole.Is64BitView());
    RemoveFile(probe);
}

// A 32-bit process on 64-bit Windows: needs a machine that executes 32-bit code.
TEST(ScopedRedirection, Bit64ReachesTheRealSystemFolderUnderWow64)
{
    if (!RunsUnderWow64())
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";

    const std::wstring both = System32(L"velmora-redirection-both.txt");
    const std::wstring nativeOnly = System32(L"velmora-redirection-native.txt");
    ASSERT_TRUE(WriteBytes(both, "wow64")); // lands in syswow64
    {
        ScopedRedirection off; // the form without an entry switches whenever under WOW64
        ASSERT_TRUE(off.Is64BitView());
        ASSERT_TRUE(WriteBytes(both, "native"));
        ASSERT_TRUE(WriteBytes(nativeOnly, "native"));
    }

    {
        ScopedRedirection guard(WithBit("64"));
        EXPECT_TRUE(guard.Is64BitView());
        EXPECT_EQ(ReadBytes(both), "native");
        EXPECT_TRUE(Exists(nativeOnly));
    }
    for (const char* bit : {"32", "", "64 ", "x64"}) {
        ScopedRedirection guard(WithBit(bit));
        EXPECT_FALSE(guard.Is64BitView()) << "bit '" << bit << "'";
        EXPECT_EQ(ReadBytes(both), "wow64") << "bit '" << bit << "'";
        EXPECT_FALSE(Exists(nativeOnly)) << "bit '" << bit << "'";
    }
    EXPECT_EQ(ReadBytes(both), "wow64") << "redirection is back on after the guard";

    {
        ScopedRedirection off;
        RemoveFile(both);
        RemoveFile(nativeOnly);
    }
    RemoveFile(both);
}

} // namespace
} // namespace Velmora::Assistant

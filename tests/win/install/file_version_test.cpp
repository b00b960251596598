#include "sysinfo/file_version_win.h"

#include <gtest/gtest.h>

using Velmora::ReadFileVersion;

TEST(ReadFileVersion, ReadsTheFixedRecordOfASystemLibrary)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring kernel32 = std::wstring(system) + L"\\kernel32.dll";

    VS_FIXEDFILEINFO info = {};
    ASSERT_TRUE(ReadFileVersion(kernel32, &info));
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_GE(HIWORD(info.dwFileVersionMS), 5u) << "major version " << HIWORD(info.dwFileVersionMS);
    EXPECT_TRUE(ReadFileVersion(kernel32, nullptr)) << "the record is optional";
}

TEST(ReadFileVersion, FalseForFilesWithoutAVersion)
{
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring plain = std::wstring(temp) + L"velmora-no-version.txt";
    HANDLE file = CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "text", 4, &written, nullptr);
    CloseHandle(file);

    VS_FIXEDFILEINFO info = {};
    info.dwSignature = 1;
    EXPECT_FALSE(ReadFileVersion(plain, &info));
    EXPECT_EQ(info.dwSignature, 1u) << "the record is untouched on failure";
    EXPECT_FALSE(ReadFileVersion(std::wstring(temp) + L"velmora-missing.dll", nullptr));
    DeleteFileW(plain.c_str());
}

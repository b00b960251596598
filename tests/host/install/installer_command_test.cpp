#include "checks/installer_command.h"

#include <gtest/gtest.h>

namespace Velmora::Assistant {
namespace {

TEST(InstallerCommandLine, PathTakesThePlaceOfTheFirstTokenQuotedOnce)
{
    const std::wstring path = L"\"C:\\Program Files\\Download\\setup.exe\"";
    struct Case {
        const wchar_t* command;
        const wchar_t* expected;
    } cases[] = {
        {L"\"%1\" /S", L"\"C:\\Program Files\\Download\\setup.exe\" /S"},
        {L"%1 /S", L"\"C:\\Program Files\\Download\\setup.exe\" /S"},
        {L"%1 /log=%1.txt", L"\"C:\\Program Files\\Download\\setup.exe\" /log=%1.txt"},
        // The quoted token wins over an earlier bare one, so the path is never quoted twice.
        {L"run %1 \"%1\"", L"run %1 \"C:\\Program Files\\Download\\setup.exe\""},
        {L"msiexec /i \"%1\" /qn \"%1\"",
         L"msiexec /i \"C:\\Program Files\\Download\\setup.exe\" /qn \"%1\""},
        {L"regsvr32 /s ctrl.dll", L"regsvr32 /s ctrl.dll"},
        {L"%", L"%"},
        {L"\"%1", L"\"\"C:\\Program Files\\Download\\setup.exe\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstallerCommandLine(c.command, path), c.expected) << c.command;
}

TEST(DirectInstallerCommandLine, ProgramsAndPackagesOnlyNeverThroughTheUsersFileTypes)
{
    const wchar_t* msiexec = L"C:\\Windows\\system32\\msiexec.exe";
    struct Case {
        const wchar_t* path;
        const wchar_t* parameters;
        const wchar_t* expected; // empty: refused
    } cases[] = {
        {L"C:\\Down load\\setup.exe", L"/S", L"\"C:\\Down load\\setup.exe\" /S"},
        {L"C:\\dl\\SETUP.EXE", L"", L"\"C:\\dl\\SETUP.EXE\""},
        {L"C:\\dl\\ctl.msi", L"/qn", L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\dl\\ctl.msi\" /qn"},
        {L"C:\\dl\\Ctl.MSI", L"", L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\dl\\Ctl.MSI\""},
        {L"C:\\dl\\setup.cmd", L"", L""},
        {L"C:\\dl\\setup.bat", L"/S", L""},
        {L"C:\\dl\\setup.js", L"", L""},
        {L"C:\\dl\\setup.exe.txt", L"", L""},
        {L"C:\\dl\\setup", L"", L""},
        {L"C:\\dl\\exe", L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DirectInstallerCommandLine(c.path, c.parameters, msiexec), c.expected) << c.path;
    EXPECT_EQ(DirectInstallerCommandLine(L"C:\\dl\\ctl.msi", L"", L""), L"") << "no msiexec: refused";
}

TEST(InstallerUrlPath, DropsQueryAndFragment)
{
    struct Case {
        const wchar_t* url;
        const wchar_t* expected;
    } cases[] = {
        {L"http://bank.example/dl/setup.exe", L"http://bank.example/dl/setup.exe"},
        {L"http://bank.example/dl/setup.exe?v=2", L"http://bank.example/dl/setup.exe"},
        {L"http://bank.example/get?name=../../evil.exe", L"http://bank.example/get"},
        {L"http://bank.example/dl/setup.exe#x/y", L"http://bank.example/dl/setup.exe"},
        {L"setup.exe", L"setup.exe"},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InstallerUrlPath(c.url), c.expected) << c.url;
}

} // namespace
} // namespace Velmora::Assistant

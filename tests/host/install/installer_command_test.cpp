#include "install/installer_command.h"

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

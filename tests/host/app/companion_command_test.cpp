#include "app/companion_command.h"

#include <gtest/gtest.h>

using namespace Velmora;

TEST(CompanionCommandLine, ReplacesTheFileNameQuotesAndAppendsTheResourceNumbers)
{
    EXPECT_EQ(CompanionCommandLine(L"C:\\Program Files\\Velmora\\VelmoraAssistant.exe", 4321),
              L"\"C:\\Program Files\\Velmora\\QXSysTray.exe\" 103 102 199 4321");
    // Only the last backslash counts; dots and blanks in folders stay as they are.
    EXPECT_EQ(CompanionCommandLine(L"D:\\a.b\\c d\\x.y.exe", 8),
              L"\"D:\\a.b\\c d\\QXSysTray.exe\" 103 102 199 8");
    EXPECT_EQ(CompanionCommandLine(L"VelmoraAssistant.exe", 0), L"\"QXSysTray.exe\" 103 102 199 0");
}

#include "app/log_line.h"
#include "ui/command_table.h"

#include <gtest/gtest.h>

using namespace Velmora;

TEST(LogLine, HeaderPadsEveryFieldAndKeepsTheLiteralZeros)
{
    const LogTime early{2026, 1, 2, 3, 4, 5, 7};
    EXPECT_EQ(FormatLogHeader(42, early), "(42) 2026/01/02 03:04:05.007000: ");
    const LogTime late{2026, 12, 31, 23, 59, 59, 999};
    EXPECT_EQ(FormatLogHeader(123456, late), "(123456) 2026/12/31 23:59:59.999000: ");
}

TEST(LogLine, TextBytesPassUnchangedAndEndInCrLf)
{
    const LogTime time{2026, 6, 7, 8, 9, 10, 11};
    const std::string text = "\xE5\x90\xAF\xE5\x8A\xA8 100%s\n"; // UTF-8, a printf-like token, an LF
    EXPECT_EQ(FormatLogLine(7, time, true, text), "(7) 2026/06/07 08:09:10.011000: " + text + "\r\n");
    EXPECT_EQ(FormatLogLine(7, time, false, text), text + "\r\n");
    EXPECT_EQ(FormatLogLine(7, time, false, std::string_view("a\0b", 3)), std::string("a\0b\r\n", 5));
}

TEST(CommandTable, NamesAreExactAndIdTwentyIsUnassigned)
{
    const CommandTable table;
    EXPECT_EQ(table.IdOf(L"get_config"), 1);
    EXPECT_EQ(table.IdOf(L"http_post"), 19);
    EXPECT_EQ(table.IdOf(L"start_with_boot"), 21);
    EXPECT_EQ(table.IdOf(L"set_Log"), 22);
    EXPECT_EQ(table.IdOf(L"quit"), 25);
    EXPECT_EQ(table.IdOf(L"set_log"), -1) << "lookup is case-sensitive";
    EXPECT_EQ(table.IdOf(L"quit "), -1);
    EXPECT_EQ(table.IdOf(L""), -1);
}

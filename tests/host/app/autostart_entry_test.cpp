#include "app/autostart_entry.h"

#include <gtest/gtest.h>

using namespace Velmora;

TEST(AutostartEntryName, FoldersGoFirstThenEverythingFromTheFirstDot)
{
    const struct {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\Program Files\\Foo\\Runner.exe", L"Runner"},
        {L"C:\\Apps\\v1.2\\Runner.exe", L"Runner"},    // dot in a folder
        {L"C:\\Apps\\Runner.setup.v2.exe", L"Runner"}, // several dots
        {L"C:\\Apps/mixed.dir/Runner.exe", L"Runner"}, // forward slash after the backslash
        {L"C:/a.b/c\\d.e/Tool.exe", L"Tool"},          // slash last, backslash earlier
        {L"Runner.exe", L"Runner"},                    // no folder
        {L"C:\\Apps\\Runner", L"Runner"},              // no extension
        {L"C:\\Apps\\.hidden.exe", L""},               // nothing before the first dot
        {L"C:\\Apps\\", L""},                          // no file name at all
        {L"C:\\My Apps\\Velmora Assistant.exe", L"Velmora Assistant"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AutostartEntryName(c.path), c.name)
            << "path " << testing::PrintToString(std::wstring(c.path));
}

TEST(AutostartValueData, AddsOneBlankBeforeArgumentsAndNoQuotes)
{
    EXPECT_EQ(AutostartValueData(L"C:\\My Apps\\Runner.exe", std::nullopt), L"C:\\My Apps\\Runner.exe");
    EXPECT_EQ(AutostartValueData(L"C:\\My Apps\\Runner.exe", L"scan"), L"C:\\My Apps\\Runner.exe scan");
    EXPECT_EQ(AutostartValueData(L"C:\\Runner.exe", L""), L"C:\\Runner.exe ");
}

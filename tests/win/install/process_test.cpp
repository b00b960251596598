#include "common/process_win.h"
#include "win/app/win_test_support.h"

#include <gtest/gtest.h>

using namespace Velmora;
using namespace VelmoraTest;

namespace {

const std::wstring kProbe = WindowsPath(CHILD_PROBE_EXE);

std::wstring ProbeLine(const std::wstring& arguments)
{
    return Quoted(kProbe) + L" " + arguments;
}

// Not in the SDK headers; user32 exports it.
BOOL SetShellWindowFor(HWND window)
{
    using SetShellWindowFn = BOOL(WINAPI*)(HWND);
    const auto set = reinterpret_cast<SetShellWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    return set != nullptr && set(window);
}

} // namespace

TEST(RunCommandLine, ReturnsExitCodesOfWaitedChildrenAndZeroForRunningOnes)
{
    EXPECT_EQ(RunCommandLine(ProbeLine(L"3"), false, true, false), 3);
    EXPECT_EQ(RunCommandLine(ProbeLine(L"0"), true, true, false), 0);
    EXPECT_EQ(RunCommandLine(ProbeLine(L"-7"), false, true, false), -7);

    TempFolder folder(L"velmora-run-");
    const std::wstring report = folder / L"running.txt";
    EXPECT_EQ(RunCommandLine(ProbeLine(L"9 " + Quoted(report) + L" 3000"), false, false, false), 0)
        << "a child still running reports 0, not STILL_ACTIVE";
    EXPECT_TRUE(WaitForFile(report)) << "the child was started";

    EXPECT_EQ(RunCommandLine(Quoted(folder / L"missing.exe") + L" 1", false, true, false), -1);
    EXPECT_EQ(RunCommandLine(L"", false, true, false), -1);
}

TEST(RunCommandLine, HiddenStartsTheWindowHiddenShownLeavesTheDefault)
{
    TempFolder folder(L"velmora-show-");
    const std::wstring hidden = folder / L"hidden.txt";
    const std::wstring shown = folder / L"shown.txt";
    ASSERT_EQ(RunCommandLine(ProbeLine(L"0 " + Quoted(hidden)), true, true, false), 0);
    ASSERT_EQ(RunCommandLine(ProbeLine(L"0 " + Quoted(shown)), false, true, false), 0);
    EXPECT_EQ(ReadFileBytes(hidden), "flags=1 show=0"); // STARTF_USESHOWWINDOW, SW_HIDE
    const std::string shownReport = ReadFileBytes(shown);
    EXPECT_EQ(shownReport.rfind("flags=0 ", 0), 0u) << shownReport;
}

TEST(RunCommandLine, RefusesCommandLinesThatDoNotFitTheBuffer)
{
    TempFolder folder(L"velmora-long-");
    const auto lineOfLength = [&](const std::wstring& report, size_t length) {
        std::wstring line = ProbeLine(L"4 " + Quoted(report) + L" 0 ");
        line.resize(length, L'x'); // the probe ignores extra arguments
        return line;
    };
    const std::wstring fits = folder / L"fits.txt";
    const std::wstring tooLong = folder / L"too-long.txt";
    EXPECT_EQ(RunCommandLine(lineOfLength(fits, kCommandLineCapacity - 1), false, true, false), 4);
    EXPECT_TRUE(FileExists(fits));
    EXPECT_EQ(RunCommandLine(lineOfLength(tooLong, kCommandLineCapacity), false, true, false), -1);
    EXPECT_EQ(RunCommandLine(lineOfLength(tooLong, 4000), false, true, true), -1);
    Sleep(300);
    EXPECT_FALSE(FileExists(tooLong)) << "nothing may start";
}

TEST(RunCommandLine, ShellUserPathNeedsTheShellWindowAndHasNoFallback)
{
    TempFolder folder(L"velmora-shell-");
    const std::wstring report = folder / L"as-shell.txt";
    ASSERT_EQ(GetShellWindow(), nullptr) << "this test sets the shell window itself";
    EXPECT_EQ(RunCommandLine(ProbeLine(L"3 " + Quoted(report)), false, true, true), -1);
    Sleep(300);
    EXPECT_FALSE(FileExists(report)) << "without a shell window nothing starts";

    HWND shell = CreateWindowExW(0, L"STATIC", L"velmora test shell", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(shell, nullptr);
    ASSERT_TRUE(SetShellWindowFor(shell)) << GetLastError();
    EXPECT_EQ(RunCommandLine(ProbeLine(L"3 " + Quoted(report)), true, true, true), 3);
    EXPECT_EQ(ReadFileBytes(report), "flags=1 show=0") << "the start-up information reaches the child";
    DestroyWindow(shell);
}

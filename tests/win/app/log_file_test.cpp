#include "app/log_file_win.h"
#include "app/module_paths_win.h"
#include "win/app/win_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

using namespace Velmora;
using namespace VelmoraTest;

namespace {

const std::regex kLine(R"(\((\d+)\) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}000: (.*))");

std::vector<std::string> SplitCrLf(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    if (start != bytes.size())
        lines.push_back(bytes.substr(start) + "<unterminated>");
    return lines;
}

HANDLE StartWriter(const std::wstring& log, int count, const wchar_t* tag, DWORD* processId)
{
    std::wstring line =
        Quoted(WindowsPath(LOG_WRITER_EXE)) + L" " + Quoted(log) + L" " + std::to_wstring(count) + L" " + tag;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    *processId = info.dwProcessId;
    return info.hProcess;
}

} // namespace

TEST(LogFile, EachLineIsOnDiskAndReadableWhenWriteReturns)
{
    TempFolder folder(L"velmora-log-");
    const std::wstring path = folder / L"Log.log";
    LogFile log;
    log.SetPath(path);
    ASSERT_TRUE(log.Write("\xE5\xBC\x80\xE5\xA7\x8B check"));
    std::vector<std::string> lines = SplitCrLf(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLine)) << lines[0];
    EXPECT_EQ(match[1].str(), std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(match[2].str(), "\xE5\xBC\x80\xE5\xA7\x8B check");

    log.SetTimestamps(false);
    ASSERT_TRUE(log.Write("bare"));
    lines = SplitCrLf(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "bare");
}

TEST(LogFile, AnUnopenablePathFailsAndTheDefaultIsBesideTheExecutable)
{
    TempFolder folder(L"velmora-log-");
    LogFile log;
    log.SetPath(folder / L"missing-folder\\Log.log");
    EXPECT_FALSE(log.Write("lost"));

    const std::wstring besideExe = ExecutableFolder() + L"\\Log.log";
    DeleteFileW(besideExe.c_str());
    log.SetPath(L"");
    EXPECT_TRUE(log.Write("default path"));
    log.SetPath(folder / L"other.log"); // closes the default log so that it can be removed
    EXPECT_NE(ReadFileBytes(besideExe).find("default path\r\n"), std::string::npos);
    DeleteFileW(besideExe.c_str());
}

TEST(LogFile, TwoProcessesAppendToOneLogWithTheirOwnIds)
{
    TempFolder folder(L"velmora-log-");
    const std::wstring path = folder / L"Log.log";
    const std::string earlier = "(1) 2020/01/01 00:00:00.000000: an earlier run\r\n";
    {
        LogFile seed;
        seed.SetTimestamps(false);
        seed.SetPath(path);
        ASSERT_TRUE(seed.Write("(1) 2020/01/01 00:00:00.000000: an earlier run"));
    }
    constexpr int kLines = 300;
    DWORD idA = 0;
    DWORD idB = 0;
    HANDLE a = StartWriter(path, kLines, L"A", &idA);
    HANDLE b = StartWriter(path, kLines, L"B", &idB);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    HANDLE both[] = {a, b};
    ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, 60000), WAIT_OBJECT_0);
    DWORD codeA = 1;
    DWORD codeB = 1;
    GetExitCodeProcess(a, &codeA);
    GetExitCodeProcess(b, &codeB);
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_EQ(codeA, 0u);
    EXPECT_EQ(codeB, 0u);

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.rfind(earlier, 0), 0u) << "the earlier content was overwritten";
    const std::vector<std::string> lines = SplitCrLf(bytes.substr(earlier.size()));
    EXPECT_EQ(lines.size(), 2u * kLines);
    std::map<std::string, int> next = {{"A", 0}, {"B", 0}};
    const std::map<std::string, std::string> ids = {{"A", std::to_string(idA)}, {"B", std::to_string(idB)}};
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLine)) << "broken line: " << line;
        const std::string text = match[2].str();
        const std::string tag = text.substr(0, 1);
        ASSERT_TRUE(next.count(tag)) << line;
        EXPECT_EQ(match[1].str(), ids.at(tag)) << line;
        EXPECT_EQ(text, tag + " line " + std::to_string(next[tag]++)) << "lines lost or out of order";
    }
}

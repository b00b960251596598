#pragma once
// The command line of the unattended check: switches in the Windows manner ("/fix", also "-fix",
// any letter case), each value the argument after its switch.
//
//   VelmoraCheck.exe [/check | /fix | /update] [/config <url|file>] [/report <file>] [/yes] [/?]

#include <string>
#include <vector>

namespace Velmora::Console {

// Update: the assistant's own update, as the page's "检测更新" link asks for it.
enum class RunMode { Check, Fix, Update };

// How a run ended, as the process exit code.
enum ConsoleExitCode : int {
    kExitInOrder = 0,        // nothing left that the assistant would repair
    kExitNotInOrder = 1,     // something the assistant can repair is still not in order (/update:
                             // a newer version is offered and was not installed)
    kExitNoDocument = 2,     // the check document could not be had
    kExitAlreadyRunning = 3, // the windowed assistant, or another check, is running
    kExitBadCommandLine = 4,
    kExitReportFailed = 5, // the checks ran, but the report file could not be written
};

struct ConsoleOptions {
    RunMode mode = RunMode::Check;
    std::wstring config; // empty: the configured source
    std::wstring report; // empty: no report file
    bool answerYes = false;
    bool help = false;
    std::wstring error; // not empty: the command line is wrong, and why
};

// `args` without the program itself.
ConsoleOptions ParseConsoleArguments(const std::vector<std::wstring>& args);

// The text of /?.
std::wstring ConsoleUsage();

} // namespace Velmora::Console

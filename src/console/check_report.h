#pragma once
// The results of an unattended run: one record per check or repair, in rounds (the check, the
// repairs, the check after them), written as a JSON report for machines and as a summary for people.

#include "console/console_options.h"
#include "console/page_checks.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Velmora::Console {

struct CheckRecord {
    std::optional<std::string> type;   // a check type ...
    std::optional<std::int32_t> index; // ... or a component
    std::string name;
    std::optional<std::string> answer; // the engine's answer, as the page receives it
    CheckState state = CheckState::Ok;
    std::string text;
    std::optional<int> status; // components
    std::string action;        // repairs: what was done ("修复", "安装", ...)
    long long durationMs = 0;
};

enum class Phase { Check, Fix, Recheck };

struct Round {
    Phase phase = Phase::Check;
    std::vector<CheckRecord> results;
};

// What /update found: the installed assistant current, a newer version installed, or one offered
// and not installed (declined, or its download or installer failed).
enum class UpdateOutcome { Current, Installed, NotInstalled };

struct RunReport {
    std::string version;
    std::string config;
    RunMode mode = RunMode::Check;
    std::optional<UpdateOutcome> update; // set by an /update run
    std::string started;                 // local time, "2026-12-09 12:00:00"
    std::string systemVersion;           // as get_version answers them
    std::string ieVersion;
    int exitCode = 0;
    std::vector<Round> rounds;
};

CheckRecord FixedCheckRecord(const FixedCheck& check, const std::optional<std::string>& answer,
                             long long durationMs);
CheckRecord ItemCheckRecord(const PageItem& item, const std::optional<std::string>& answer,
                            long long durationMs);

// The page's verdict on a check round: kExitNotInOrder when something the assistant can repair is
// not in order, else kExitInOrder (what it cannot repair is only a warning).
int ExitCodeOf(const Round& checks);

// /update's exit code and its closing line.
int ExitCodeOf(UpdateOutcome outcome);
std::string UpdateText(UpdateOutcome outcome);

std::string ReportJson(const RunReport& report);

// The table of one check round, a line per record ("  [异常] HOST文件" ...).
std::string RoundText(const Round& round);
// The closing lines: counts, and for a repair run what changed between the two checks.
std::string SummaryText(const RunReport& report);

} // namespace Velmora::Console

#include "console/check_report.h"

#include <nlohmann/json.hpp>

#include <map>

namespace Velmora::Console {
namespace {

// Members in the order the report gives them.
using Json = nlohmann::ordered_json;

// JSON text of a value on one line, a space after each colon and comma, as a report's records are
// laid out. A text that is not valid UTF-8 has each bad byte written as U+FFFD.
std::string OneLine(const Json& value)
{
    if (!value.is_object() && !value.is_array())
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out = value.is_object() ? "{" : "[";
    bool first = true;
    for (const auto& member : value.items()) {
        out += first ? "" : ", ";
        first = false;
        if (value.is_object())
            out += OneLine(member.key()) + ": ";
        out += OneLine(member.value());
    }
    return out + (value.is_object() ? "}" : "]");
}

// A state's name in the report, and the mark a person reads first: what needs doing, not the
// page's wording.
struct StateWords {
    const char* name;
    const char* mark;
};

const StateWords& WordsOf(CheckState state)
{
    static constexpr StateWords kWords[] = {{"ok", "通过"}, {"repair", "待修复"}, {"warning", "注意"}};
    return kWords[static_cast<int>(state)];
}

const char* StateName(CheckState state)
{
    return WordsOf(state).name;
}

const char* StateMark(CheckState state)
{
    return WordsOf(state).mark;
}

const char* PhaseName(Phase phase)
{
    switch (phase) {
    case Phase::Check:
        return "check";
    case Phase::Fix:
        return "fix";
    case Phase::Recheck:
        return "recheck";
    }
    return "check";
}

Json RecordJson(const CheckRecord& record, Phase phase)
{
    Json out = Json::object();
    if (record.type)
        out["type"] = *record.type;
    if (record.index)
        out["index"] = *record.index;
    out["name"] = record.name;
    out["answer"] = record.answer ? Json(*record.answer) : Json();
    if (phase == Phase::Fix) {
        out["action"] = record.action;
    } else {
        out["state"] = StateName(record.state);
        out["text"] = record.text;
        if (record.status)
            out["status"] = *record.status;
    }
    out["duration_ms"] = record.durationMs;
    return out;
}

std::string RecordKey(const CheckRecord& record)
{
    return record.type ? "t:" + *record.type : "i:" + std::to_string(record.index.value_or(-1));
}

struct Counts {
    int ok = 0, repair = 0, warning = 0;
};

Counts CountOf(const Round& round)
{
    Counts counts;
    for (const CheckRecord& record : round.results) {
        (record.state == CheckState::Ok       ? counts.ok
         : record.state == CheckState::Repair ? counts.repair
                                              : counts.warning)++;
    }
    return counts;
}

std::string CountText(const Counts& counts)
{
    return std::to_string(counts.ok) + " 项通过，" + std::to_string(counts.repair) + " 项待修复，" +
           std::to_string(counts.warning) + " 项注意";
}

} // namespace

CheckRecord FixedCheckRecord(const FixedCheck& check, const std::optional<std::string>& answer,
                             long long durationMs)
{
    const Judgement judgement = JudgeFixed(check, answer);
    CheckRecord record;
    record.type = std::string(check.type);
    record.name = std::string(check.name);
    record.answer = answer;
    record.state = judgement.state;
    record.text = std::string(judgement.text);
    record.durationMs = durationMs;
    return record;
}

CheckRecord ItemCheckRecord(const PageItem& item, const std::optional<std::string>& answer,
                            long long durationMs)
{
    const int status = ItemStatusFromAnswer(answer);
    CheckRecord record;
    record.index = item.index;
    record.name = item.name;
    record.answer = answer;
    record.status = status;
    record.state = status == 0 ? CheckState::Ok : CheckState::Repair;
    record.text = std::string(ItemStatusText(status));
    record.durationMs = durationMs;
    return record;
}

int ExitCodeOf(const Round& checks)
{
    for (const CheckRecord& record : checks.results) {
        if (record.state == CheckState::Repair)
            return kExitNotInOrder;
    }
    return kExitInOrder;
}

int ExitCodeOf(UpdateOutcome outcome)
{
    return outcome == UpdateOutcome::NotInstalled ? kExitNotInOrder : kExitInOrder;
}

std::string UpdateText(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Current:
        return "网银助手已是最新版本。\r\n";
    case UpdateOutcome::Installed:
        return "网银助手已更新为新版本，下次启动时生效。\r\n";
    case UpdateOutcome::NotInstalled:
        break;
    }
    return "网银助手有新版本，但未安装。\r\n";
}

std::string ReportJson(const RunReport& report)
{
    static constexpr const char* kModeNames[] = {"check", "fix", "update"};
    static constexpr const char* kUpdateNames[] = {"current", "installed", "not_installed"};
    Json head = Json::object();
    head["program"] = "VelmoraCheck";
    head["version"] = report.version;
    head["config"] = report.config;
    head["mode"] = kModeNames[static_cast<int>(report.mode)];
    if (report.update)
        head["update"] = kUpdateNames[static_cast<int>(*report.update)];
    head["started"] = report.started;
    head["system"] = report.systemVersion;
    head["ie"] = report.ieVersion;
    head["exit_code"] = report.exitCode;

    // A member a line, then the rounds: a line each, and each of their records on a line of its own.
    std::string out = "{\n";
    for (const auto& member : head.items())
        out += "  " + OneLine(member.key()) + ": " + OneLine(member.value()) + ",\n";
    out += "  \"rounds\": [";
    for (std::size_t r = 0; r < report.rounds.size(); ++r) {
        const Round& round = report.rounds[r];
        out += r ? ",\n" : "\n";
        out += "    {\"phase\": " + OneLine(PhaseName(round.phase)) + ", \"results\": [";
        for (std::size_t i = 0; i < round.results.size(); ++i)
            out += (i ? ",\n      " : "\n      ") + OneLine(RecordJson(round.results[i], round.phase));
        out += round.results.empty() ? "]}" : "\n    ]}";
    }
    out += report.rounds.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string RoundText(const Round& round)
{
    std::string out;
    for (const CheckRecord& record : round.results) {
        out += "  [";
        out += StateMark(record.state);
        out += "] " + record.name;
        if (!record.text.empty())
            out += "：" + record.text;
        out += "\r\n";
    }
    return out;
}

std::string SummaryText(const RunReport& report)
{
    const Round* first = nullptr;
    const Round* last = nullptr;
    for (const Round& round : report.rounds) {
        if (round.phase == Phase::Fix)
            continue;
        if (!first)
            first = &round;
        last = &round;
    }
    std::string out;
    if (!first)
        return out;
    out += "检测结果：" + CountText(CountOf(*first)) + "\r\n";
    if (last != first) {
        out += "修复后：" + CountText(CountOf(*last)) + "\r\n";
        std::map<std::string, const CheckRecord*> before;
        for (const CheckRecord& record : first->results)
            before[RecordKey(record)] = &record;
        for (const CheckRecord& record : last->results) {
            const auto it = before.find(RecordKey(record));
            if (it == before.end() || it->second->state == record.state)
                continue;
            out += "  " + record.name + "：" +
                   (it->second->text.empty() ? StateMark(it->second->state) : it->second->text) + " → " +
                   (record.text.empty() ? StateMark(record.state) : record.text) + "\r\n";
        }
    }
    out += report.exitCode == kExitInOrder ? "您的电脑已达到安全要求，可放心登录网银\r\n"
                                           : "检测完毕，有需要修复项目，请修复！\r\n";
    return out;
}

} // namespace Velmora::Console

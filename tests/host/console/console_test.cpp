#include "console/check_report.h"
#include "console/console_options.h"
#include "console/page_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velmora::Console {
namespace {

TEST(ConsoleOptions, SwitchesValuesAndMistakes)
{
    struct Case {
        std::vector<std::wstring> args;
        RunMode mode;
        std::wstring config, report;
        bool yes, help, error;
    };
    const Case cases[] = {
        {{}, RunMode::Check, L"", L"", false, false, false},
        {{L"/FIX", L"-Config", L"https://bank/item.xml", L"/report", L"C:\\r.json", L"/yes"},
         RunMode::Fix,
         L"https://bank/item.xml",
         L"C:\\r.json",
         true,
         false,
         false},
        // A value is the next argument as it is, even one that looks like a switch.
        {{L"/config", L"/fix"}, RunMode::Check, L"/fix", L"", false, false, false},
        {{L"/check", L"/check"}, RunMode::Check, L"", L"", false, false, false},
        {{L"/?"}, RunMode::Check, L"", L"", false, true, false},
        {{L"/Update", L"/yes"}, RunMode::Update, L"", L"", true, false, false},
        {{L"/check", L"/fix"}, RunMode::Fix, L"", L"", false, false, true},
        {{L"/fix", L"/update"}, RunMode::Fix, L"", L"", false, false, true},
        {{L"/config"}, RunMode::Check, L"", L"", false, false, true},
        {{L"/report", L""}, RunMode::Check, L"", L"", false, false, true},
        {{L"/config", L"a", L"/config", L"b"}, RunMode::Check, L"a", L"", false, false, true},
        {{L"/repair"}, RunMode::Check, L"", L"", false, false, true},
        {{L"item.xml"}, RunMode::Check, L"", L"", false, false, true},
    };
    for (const Case& c : cases) {
        const ConsoleOptions options = ParseConsoleArguments(c.args);
        const std::wstring first = c.args.empty() ? L"(none)" : c.args[0];
        SCOPED_TRACE(std::string(first.begin(), first.end()));
        EXPECT_EQ(options.error.empty(), !c.error);
        if (c.error)
            continue;
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.config, c.config);
        EXPECT_EQ(options.report, c.report);
        EXPECT_EQ(options.answerYes, c.yes);
        EXPECT_EQ(options.help, c.help);
    }
}

const FixedCheck& Fixed(std::string_view type)
{
    for (const FixedCheck& check : FixedChecks()) {
        if (check.type == type)
            return check;
    }
    ADD_FAILURE() << "no fixed check " << type;
    return FixedChecks()[0];
}

TEST(PageChecks, AnswersAreJudgedAsThePageShowsThem)
{
    struct Case {
        std::string_view type;
        std::optional<std::string> answer;
        CheckState state;
        std::string_view text;
    };
    const Case cases[] = {
        {"host", R"({ "type" : "host", "result" : true})", CheckState::Ok, "正常"},
        {"host", R"({ "type" : "host", "result" : false})", CheckState::Repair, "异常"},
        {"trust", R"({"type":"trust","result":true})", CheckState::Ok, "已加入"},
        // No answer, or one without a result, is a failure.
        {"registry", std::nullopt, CheckState::Repair, "异常"},
        {"registry", R"({ "type" : "registry"})", CheckState::Repair, "异常"},
        // The word in a string is not the field.
        {"cfca", R"({ "type" : "result", "result" : false})", CheckState::Repair, "异常"},
        // What the assistant cannot repair is only a warning; the proxy row only informs.
        {"firewall", R"({ "type" : "firewall", "result" : false})", CheckState::Warning, "注意"},
        {"url", R"({ "type" : "url", "result" : false})", CheckState::Warning, "异常"},
        {"proxy", R"({ "type" : "proxy", "result" : false})", CheckState::Ok, "无代理"},
        {"proxy", R"({ "type" : "proxy", "result" : true})", CheckState::Ok, "代理上网"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.answer.value_or("(none)"));
        const Judgement judgement = JudgeFixed(Fixed(c.type), c.answer);
        EXPECT_EQ(judgement.state, c.state);
        EXPECT_EQ(judgement.text, c.text);
    }

    struct ItemCase {
        std::optional<std::string> answer;
        int status;
    };
    const ItemCase items[] = {
        {R"({ "index" : 3, "result" : 0})", 0},
        {R"({ "index" : 3, "result" : 2})", 2},
        {R"({ "index" : 0, "result" : 7})", 3},
        {R"({ "index" : 0, "result" : -1})", 3},
        {R"({ "index" : 0, "result" : "1"})", 1},
        {std::nullopt, 3},
        {R"({ "index" : 1})", 3},
    };
    for (const ItemCase& c : items)
        EXPECT_EQ(ItemStatusFromAnswer(c.answer), c.status) << c.answer.value_or("(none)");
    EXPECT_EQ(ItemStatusText(3), "未安装");
    EXPECT_EQ(ItemAction(2), "升级");
}

TEST(PageChecks, ComponentsAreSelectedForTheCustomer)
{
    const PageItem keyA{0, "A", "key", "key_a", "1D990A01"};
    const PageItem safe{1, "S", "usbsafe", "s", ""};
    const PageItem control{2, "C", "ocx", "c", ""};
    struct Case {
        CustomerKind kind;
        bool keyA, safe, control;
    };
    const Case cases[] = {
        {{0, 7, "key_a"}, false, true, true}, // not a key customer
        {{1, 7, "key_a"}, true, true, true},
        {{1, 7, "key_b"}, false, true, true}, // another key model
        {{1, 1, ""}, false, false, true},     // no security kind a component without a mask counts for
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsItemSelected(keyA, c.kind), c.keyA);
        EXPECT_EQ(IsItemSelected(safe, c.kind), c.safe);
        EXPECT_EQ(IsItemSelected(control, c.kind), c.control);
    }
}

TEST(CheckReport, VerdictSummaryAndJson)
{
    const PageItem control{4, "网银\"安全\"控件", "ocx", "secctl", ""};
    Round before{Phase::Check,
                 {FixedCheckRecord(Fixed("host"), R"({ "type" : "host", "result" : false})", 3),
                  FixedCheckRecord(Fixed("firewall"), R"({ "type" : "firewall", "result" : false})", 1),
                  ItemCheckRecord(control, R"({ "index" : 4, "result" : 3})", 20)}};
    Round after{Phase::Recheck,
                {FixedCheckRecord(Fixed("host"), R"({ "type" : "host", "result" : true})", 2),
                 FixedCheckRecord(Fixed("firewall"), R"({ "type" : "firewall", "result" : false})", 1),
                 ItemCheckRecord(control, std::nullopt, 5)}};
    EXPECT_EQ(ExitCodeOf(before), kExitNotInOrder);
    EXPECT_EQ(ExitCodeOf(after), kExitNotInOrder); // the component gave no answer: still to install
    after.results.pop_back();
    EXPECT_EQ(ExitCodeOf(after), kExitInOrder); // a warning alone is in order

    RunReport report;
    report.mode = RunMode::Fix;
    report.exitCode = ExitCodeOf(after);
    CheckRecord repair;
    repair.type = "host";
    repair.name = "HOST文件";
    repair.action = "修复";
    report.rounds = {before, Round{Phase::Fix, {repair}}, after};
    report.config = "Z:\\a\xFF\n"; // a path that is not UTF-8 still makes a report JSON can read

    const std::string summary = SummaryText(report);
    EXPECT_NE(summary.find("检测结果：0 项通过，2 项待修复，1 项注意"), std::string::npos) << summary;
    EXPECT_NE(summary.find("修复后：1 项通过，0 项待修复，1 项注意"), std::string::npos) << summary;
    EXPECT_NE(summary.find("HOST文件：异常 → 正常"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("防火墙检测："), std::string::npos) << "unchanged rows are not repeated";
    EXPECT_NE(summary.find("可放心登录网银"), std::string::npos);

    const std::string json = ReportJson(report);
    EXPECT_NE(json.find(R"("name": "网银\"安全\"控件", "answer": "{ \"index\" : 4, \"result\" : 3}", )"
                        R"("state": "repair", "text": "未安装", "status": 3, "duration_ms": 20})"),
              std::string::npos)
        << json;
    EXPECT_NE(
        json.find(
            R"({"phase": "fix", "results": [)"
            "\n      "
            R"({"type": "host", "name": "HOST文件", "answer": null, "action": "修复", "duration_ms": 0})"),
        std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("mode": "fix",)"), std::string::npos) << json;
    EXPECT_NE(json.find("\"config\": \"Z:\\\\a\xEF\xBF\xBD\\n\",\n"), std::string::npos) << json;
    EXPECT_EQ(json.find(R"("update")"), std::string::npos) << json;
}

TEST(CheckReport, UpdateRunsAnswerByWhatTheUpdateFound)
{
    const struct {
        UpdateOutcome outcome;
        int exitCode;
        const char* name;
        const char* text;
    } cases[] = {
        {UpdateOutcome::Current, kExitInOrder, "current", "已是最新版本"},
        {UpdateOutcome::Installed, kExitInOrder, "installed", "已更新"},
        {UpdateOutcome::NotInstalled, kExitNotInOrder, "not_installed", "未安装"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExitCodeOf(c.outcome), c.exitCode);
        EXPECT_NE(UpdateText(c.outcome).find(c.text), std::string::npos);
        RunReport report;
        report.mode = RunMode::Update;
        report.update = c.outcome;
        report.exitCode = ExitCodeOf(c.outcome);
        const std::string json = ReportJson(report);
        EXPECT_NE(json.find(std::string(R"("mode": "update",)") + "\n  \"update\": \"" + c.name + "\","),
                  std::string::npos)
            << json;
        EXPECT_NE(json.find(R"("rounds": []
})"),
                  std::string::npos)
            << json;
    }
}

} // namespace
} // namespace Velmora::Console

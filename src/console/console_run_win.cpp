#include "console/console_run_win.h"

#include "app/assistant_app_win.h"
#include "app/module_paths_win.h"
#include "app/program_start_win.h"
#include "checks/check_fix.h"
#include "checks/config_loader_win.h"
#include "common/file_write_win.h"
#include "common/message_box_win.h"
#include "common/text_win.h"
#include "common/variant_win.h"
#include "console/check_report.h"
#include "console/console_options.h"
#include "console/page_checks.h"
#include "install/self_update.h"
#include "net/http_agent_win.h"
#include "sysinfo/file_version_win.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

namespace Velmora::Console {
namespace {

using UI::ScopedVariant;

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    // The check in progress ends at its next read; no further check starts.
    g_interrupted = true;
    Network::AbortTransfers();
    return TRUE;
}

std::string LocalTimeText()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return text;
}

std::string ProgramVersion()
{
    VS_FIXEDFILEINFO info = {};
    if (!ReadFileVersion(ExecutablePath(), &info))
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", info.dwFileVersionMS >> 16,
                  info.dwFileVersionMS & 0xFFFF, info.dwFileVersionLS >> 16, info.dwFileVersionLS & 0xFFFF);
    return text;
}

std::string HexStatus(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Messages that would be dialogs: printed, and questions answered without a person.
class ConsolePresenter final : public UI::IMessagePresenter {
public:
    ConsolePresenter(ConsoleOutput& out, bool answerYes) : out_(out), answerYes_(answerYes) {}

    int Present(const UI::MessageRequest& request) override
    {
        std::string text =
            request.instruction.empty() ? std::string() : WideToUtf8(request.instruction) + "：";
        // One line per message: the dialog's line breaks become blanks.
        for (const char c : WideToUtf8(request.content)) {
            if (c != '\r')
                text += c == '\n' ? ' ' : c;
        }
        if (!request.askYesNo) {
            out_.Write("  [消息] " + text + "\r\n");
            return IDOK;
        }
        out_.Write("  [提问] " + text + " 回答：" + (answerYes_ ? "是" : "否") + "\r\n");
        return answerYes_ ? UI::kAnswerYes : UI::kAnswerNo;
    }

private:
    ConsoleOutput& out_;
    bool answerYes_;
};

// The console in the page's place: it keeps the components that get_config hands over and shows
// download progress as lines.
class ConsolePage final : public UI::IBSDialog {
public:
    explicit ConsolePage(ConsoleOutput& out) : out_(out) {}

    HWND GetWindowHandle() override { return nullptr; }
    HWND GetBrowserWindow() override { return nullptr; }
    HRESULT ResizeWindow(int, int) override { return E_NOTIMPL; }

    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT*) override
    {
        const std::wstring_view name = function ? function : L"";
        // Arguments arrive in automation order: the last parameter first.
        if (name == L"setItemInfo" && count == 3)
            SetItemInfo(args[2], args[1], args[0]);
        else if (name == L"setProgress" && count == 3)
            ShowProgress(args[2], args[1], args[0]);
        return S_OK;
    }

    std::vector<PageItem> Items() const
    {
        std::vector<PageItem> items;
        for (const auto& [index, item] : items_)
            items.push_back(item);
        return items;
    }

private:
    static std::optional<long> Number(const VARIANT& value)
    {
        if (value.vt == VT_I4)
            return value.lVal;
        if (value.vt == VT_UI4)
            return static_cast<long>(value.ulVal);
        return std::nullopt;
    }

    void SetItemInfo(const VARIANT& index, const VARIANT& field, const VARIANT& value)
    {
        const std::optional<long> at = Number(index);
        if (!at || *at < 0 || !UI::IsString(field) || !UI::IsString(value))
            return;
        PageItem& item = items_[static_cast<std::int32_t>(*at)];
        item.index = static_cast<std::int32_t>(*at);
        const std::wstring_view key = UI::StringOf(field);
        const std::string text = WideToUtf8(UI::StringOf(value));
        if (key == L"name")
            item.name = text;
        else if (key == L"type")
            item.type = text;
        else if (key == L"flag")
            item.flag = text;
        else if (key == L"keyid")
            item.keyId = text;
    }

    // One line when a download starts, at every quarter, and when it ends.
    void ShowProgress(const VARIANT& percentValue, const VARIANT& indexValue, const VARIANT& statusValue)
    {
        const long percent = std::clamp(Number(percentValue).value_or(0), 0L, 100L);
        const long index = Number(indexValue).value_or(0);
        const bool ok = !UI::IsBool(statusValue) || statusValue.boolVal != VARIANT_FALSE;
        const std::string what =
            index < 0 ? "网银助手更新"
                      : (items_.count(index) ? items_[static_cast<std::int32_t>(index)].name : "");
        if (!ok) {
            out_.Write("  " + what + (index < 0 ? "：更新失败！\r\n" : "：下载失败！\r\n"));
            lastQuarter_ = -1;
            return;
        }
        const long quarter = percent / 25;
        if (index == lastIndex_ && quarter == lastQuarter_)
            return;
        lastIndex_ = index;
        lastQuarter_ = percent == 100 ? -1 : quarter;
        out_.Write("  " + std::string(percent < 100 ? "正在下载" : "下载完成 ") + what + "... " +
                   std::to_string(percent) + "%\r\n");
    }

    ConsoleOutput& out_;
    std::map<std::int32_t, PageItem> items_;
    long lastIndex_ = 0;
    long lastQuarter_ = -1;
};

// The program's command handler with the console's page: commands by name, answers as text.
class Commands {
public:
    Commands(UI::CommandServices services, ConsolePage& page) : dispatcher_(std::move(services)), page_(page)
    {
    }

    std::optional<std::string> Call(const wchar_t* name, const ScopedVariant& a1 = {},
                                    const ScopedVariant& a2 = {})
    {
        const ScopedVariant command = ScopedVariant::String(name);
        const ScopedVariant none;
        ScopedVariant result;
        dispatcher_.Handle(&page_, command.Get(), a1.Get(), a2.Get(), none.Get(), none.Get(), result.Ptr());
        if (!UI::IsString(result.Get()))
            return std::nullopt;
        return WideToUtf8(UI::StringOf(result.Get()));
    }

    int Setting(const wchar_t* key, int fallback)
    {
        const ScopedVariant command = ScopedVariant::String(L"load_settings");
        const ScopedVariant k = ScopedVariant::String(key), d = ScopedVariant::Int(fallback), none;
        ScopedVariant result;
        dispatcher_.Handle(&page_, command.Get(), k.Get(), d.Get(), none.Get(), none.Get(), result.Ptr());
        return UI::IsInt(result.Get()) ? result.Get().lVal : fallback;
    }

private:
    UI::CommandDispatcher dispatcher_;
    ConsolePage& page_;
};

struct Timed {
    std::optional<std::string> answer;
    long long ms = 0;
};

template <typename Call> Timed TimeCall(Call&& call)
{
    const auto start = std::chrono::steady_clock::now();
    Timed timed;
    timed.answer = call();
    timed.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                   .count();
    return timed;
}

void PrintRecord(ConsoleOutput& out, const CheckRecord& record)
{
    Round one;
    one.results.push_back(record);
    out.Write(RoundText(one));
}

Round CheckRound(Phase phase, Commands& commands, const std::vector<PageItem>& items, ConsoleOutput& out)
{
    Round round;
    round.phase = phase;
    for (const FixedCheck& check : FixedChecks()) {
        if (g_interrupted)
            return round;
        const std::wstring type = Utf8ToWide(check.type);
        const Timed timed = TimeCall([&] { return commands.Call(L"do_check", ScopedVariant::String(type)); });
        round.results.push_back(FixedCheckRecord(check, timed.answer, timed.ms));
        PrintRecord(out, round.results.back());
    }
    for (const PageItem& item : items) {
        if (g_interrupted)
            return round;
        const Timed timed =
            TimeCall([&] { return commands.Call(L"do_check", ScopedVariant::Int(item.index)); });
        round.results.push_back(ItemCheckRecord(item, timed.answer, timed.ms));
        PrintRecord(out, round.results.back());
    }
    return round;
}

// As the page's one-click repair: the cache always, every other check the assistant can repair when
// it failed, and every selected component that is not installed as it should be.
Round FixRound(const Round& checked, Commands& commands, const std::vector<PageItem>& items,
               ConsoleOutput& out)
{
    Round round;
    round.phase = Phase::Fix;
    for (const CheckRecord& result : checked.results) {
        if (g_interrupted)
            return round;
        CheckRecord repair;
        repair.name = result.name;
        Timed timed;
        if (result.type) {
            const auto check = std::find_if(FixedChecks().begin(), FixedChecks().end(),
                                            [&](const FixedCheck& c) { return c.type == *result.type; });
            if (check == FixedChecks().end() ||
                (check->type != "cache" && result.state != CheckState::Repair))
                continue;
            repair.type = result.type;
            repair.action = std::string(check->action);
            out.Write("  正在" + repair.action + repair.name + "...\r\n");
            const std::wstring type = Utf8ToWide(*result.type);
            timed = TimeCall([&] { return commands.Call(L"do_fix", ScopedVariant::String(type)); });
        } else {
            if (result.state != CheckState::Repair || !result.index)
                continue;
            const auto item = std::find_if(items.begin(), items.end(),
                                           [&](const PageItem& i) { return i.index == *result.index; });
            if (item == items.end())
                continue;
            repair.index = result.index;
            repair.action = std::string(ItemAction(result.status.value_or(3)));
            out.Write("  正在" + repair.action + repair.name + "...\r\n");
            timed = TimeCall([&] { return commands.Call(L"do_install", ScopedVariant::Int(*result.index)); });
        }
        repair.answer = timed.answer;
        repair.durationMs = timed.ms;
        round.results.push_back(std::move(repair));
    }
    return round;
}

// The run's exit code, or kExitReportFailed when the report asked for could not be written.
int WriteReport(const ConsoleOptions& options, const RunReport& report, ConsoleOutput& out)
{
    if (!options.report.empty() && FAILED(ReplaceWholeFile(options.report, ReportJson(report)))) {
        out.Error("无法写入报告文件：" + WideToUtf8(options.report) + "\r\n");
        return kExitReportFailed;
    }
    return report.exitCode;
}

} // namespace

int RunConsoleCheck(const std::vector<std::wstring>& args, ConsoleOutput& out)
{
    const ConsoleOptions options = ParseConsoleArguments(args);
    if (!options.error.empty()) {
        out.Error(WideToUtf8(options.error) + "\r\n用法：VelmoraCheck.exe /?\r\n");
        return kExitBadCommandLine;
    }
    if (options.help) {
        out.Write(WideToUtf8(ConsoleUsage()));
        return kExitInOrder;
    }

    // The same single-instance object as the windowed program: the two never repair at once. A
    // document named on the command line is that document or nothing; the configured source may
    // fall back to its kept copy, as in the window.
    ProgramStartOptions startOptions;
    startOptions.configOverride = options.config;
    const ProgramStart start(std::move(startOptions));
    const HRESULT single = start.Status();
    if (single != S_OK) {
        out.Error(single == S_FALSE
                      ? "网银助手正在运行（窗口或另一个命令行检测）：请先关闭它，再运行命令行检测。\r\n"
                      : "无法确认网银助手是否正在运行（" + HexStatus(single) + "）。\r\n");
        return kExitAlreadyRunning;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    ConsolePresenter presenter(out, options.answerYes);
    const UI::ScopedMessagePresenter presenterInUse(&presenter);

    UI::CommandServices services = start.Services();
    // Nothing to quit, restart or open: the run ends when its checks end (after an update, the
    // next start of the assistant runs the new version).
    services.quitApplication = [] {};
    services.postQuit = [] {};
    services.restartApplication = [] {};
    services.openBrowser = nullptr;
    services.commandLineArgs.clear();
    HRESULT loaded = E_FAIL;
    std::wstring source;
    services.loadConfig = [inner = services.loadConfig, &loaded, &source](Assistant::CheckConfig& config,
                                                                          const std::wstring& from) {
        source = from;
        loaded = inner(config, from);
        return loaded;
    };

    // What check_update found, for /update's answer.
    std::optional<UpdateOutcome> updateOutcome;
    services.checkUpdate = [inner = services.checkUpdate,
                            &updateOutcome](Assistant::CheckConfig& config, bool interactive, HWND owner,
                                            const UI::EngineProgress& progress) {
        const bool needed = Assistant::UpdateNeeded(config, Assistant::HandlerForType, nullptr);
        const bool installed = inner(config, interactive, owner, progress);
        updateOutcome = !needed     ? UpdateOutcome::Current
                        : installed ? UpdateOutcome::Installed
                                    : UpdateOutcome::NotInstalled;
        return installed;
    };

    ConsolePage page(out);
    Commands commands(std::move(services), page);

    RunReport report;
    report.version = ProgramVersion();
    report.mode = options.mode;
    report.started = LocalTimeText();
    report.systemVersion = commands.Call(L"get_version", ScopedVariant::String(L"sysversion")).value_or("");
    report.ieVersion = commands.Call(L"get_version", ScopedVariant::String(L"ieversion")).value_or("");

    commands.Call(L"get_config");
    report.config = WideToUtf8(source);
    if (FAILED(loaded)) {
        out.Error("无法获取检测文件：" + report.config + "（" + HexStatus(loaded) + "）\r\n");
        return kExitNoDocument;
    }
    out.Write("网银助手 " + report.version +
              (options.mode == RunMode::Update ? " 命令行更新" : " 命令行检测") + "\r\n检测文件：" +
              report.config +
              (loaded == Assistant::kConfigFromCache ? "（网络不通，使用本机保存的副本）" : "") +
              "\r\n系统版本：" + report.systemVersion + "  IE版本：" + report.ieVersion + "\r\n");

    if (options.mode == RunMode::Update) {
        out.Write("检测网银助手更新...\r\n");
        commands.Call(L"check_update", ScopedVariant::Bool(true));
        report.update = updateOutcome.value_or(UpdateOutcome::NotInstalled);
        report.exitCode = ExitCodeOf(*report.update);
        out.Write(UpdateText(*report.update));
        return WriteReport(options, report, out);
    }

    CustomerKind kind;
    kind.userType = commands.Setting(L"UserType", 0);
    kind.safeType = commands.Setting(L"safeType", 7);
    kind.keyType =
        commands.Call(L"load_settings", ScopedVariant::String(L"KeyType"), ScopedVariant::String(L""))
            .value_or("");
    std::vector<PageItem> items;
    for (const PageItem& item : page.Items()) {
        if (IsItemSelected(item, kind))
            items.push_back(item);
    }

    out.Write("开始检测...\r\n");
    report.rounds.push_back(CheckRound(Phase::Check, commands, items, out));
    if (options.mode == RunMode::Fix && !g_interrupted) {
        out.Write("开始全面修复...\r\n");
        report.rounds.push_back(FixRound(report.rounds.back(), commands, items, out));
        out.Write("修复完成，再次检测...\r\n");
        report.rounds.push_back(CheckRound(Phase::Recheck, commands, items, out));
    }
    report.exitCode = ExitCodeOf(report.rounds.back());
    if (g_interrupted) {
        out.Error("检测已中断。\r\n");
        report.exitCode = kExitNotInOrder;
    }
    out.Write(SummaryText(report));
    return WriteReport(options, report, out);
}

} // namespace Velmora::Console

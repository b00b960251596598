// The command handler driven through a headless dialog, with fake services and a recording message
// presenter standing in for the person in front of the screen.

#include "win/checks/loopback_server.h" // before <windows.h>

#include "checks/check_config.h"
#include "checks/config_loader_win.h"
#include "common/message_box_win.h"
#include "common/text_win.h"
#include "fake_page.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"
#include "ui/request_lock_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

using namespace Velmora;
using namespace Velmora::UI;
using namespace Velmora::UI::Testing;

namespace {

class RecordingPresenter : public IMessagePresenter {
public:
    int Present(const MessageRequest& request) override
    {
        shown.push_back(request);
        return answer;
    }
    std::vector<MessageRequest> shown;
    int answer = kAnswerYes;
};

struct Recorder {
    std::map<std::wstring, int> ints;
    std::map<std::wstring, std::wstring> strings;
    int quits = 0, postedQuits = 0, restarts = 0;
    std::vector<std::pair<std::wstring, std::wstring>> programs;
    std::vector<bool> autostart;
    std::vector<std::string> log;
    std::vector<std::wstring> posts;
    std::vector<std::wstring> configSources;
    std::string configText;
    HRESULT configStatus = S_OK;
    std::vector<std::wstring> fetches;
    std::string fetchBody;
    HRESULT fetchStatus = S_OK;
};

ScopedVariant S(const wchar_t* s)
{
    return ScopedVariant::String(s);
}
ScopedVariant I(int v)
{
    return ScopedVariant::Int(v);
}
ScopedVariant B(bool v)
{
    return ScopedVariant::Bool(v);
}
ScopedVariant R8(double v)
{
    ScopedVariant out;
    out.Ptr()->vt = VT_R8;
    out.Ptr()->dblVal = v;
    return out;
}

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessagePresenter(&presenter_);
        page_ = new FakeDispatch();
        for (const wchar_t* fn : {L"setItemInfo", L"setProgress", L"isAnyKeyConnect", L"show3"})
            page_->Define(fn, [](const std::vector<ScopedVariant>&, VARIANT*) {});
        dialog_.LoadPage(page_);
        dispatcher_ = std::make_unique<CommandDispatcher>(Services());
    }
    void TearDown() override
    {
        SetMessagePresenter(nullptr);
        page_->Release();
    }

    CommandServices Services()
    {
        CommandServices s;
        Recorder* r = &rec_;
        s.readInt = [r](const std::wstring& k, int d) { return r->ints.count(k) ? r->ints[k] : d; };
        s.readString = [r](const std::wstring& k, const std::wstring& d) {
            return r->strings.count(k) ? r->strings[k] : d;
        };
        s.writeInt = [r](const std::wstring& k, int v) { return r->ints[k] = v, true; };
        s.writeString = [r](const std::wstring& k, const std::wstring& v) { return r->strings[k] = v, true; };
        s.quitApplication = [r] { ++r->quits; };
        s.postQuit = [r] { ++r->postedQuits; };
        s.restartApplication = [r] { ++r->restarts; };
        s.openBrowser = [r](const std::wstring& p, const std::wstring& a) { r->programs.emplace_back(p, a); };
        s.httpPost = [r](const std::wstring& url) {
            r->posts.push_back(url);
            return std::wstring(L"{\"ok\":1}");
        };
        s.fetch = [r](const std::wstring& url, std::string* body) {
            r->fetches.push_back(url);
            *body = r->fetchBody;
            return r->fetchStatus;
        };
        s.setAutostart = [r](bool on) { r->autostart.push_back(on); };
        s.appendLog = [r](const std::string& line) { r->log.push_back(line); };
        s.loadConfig = [r](Assistant::CheckConfig& c, const std::wstring& source) {
            r->configSources.push_back(source);
            c.Clear();
            if (FAILED(r->configStatus))
                return r->configStatus;
            if (!Assistant::ParseCheckConfig(c, r->configText))
                return E_FAIL;
            c.SourceUrl = WideToUtf8(source);
            c.FromCache = r->configStatus == Assistant::kConfigFromCache;
            return r->configStatus;
        };
        s.config = &config_;
        s.title = L"Velmora";
        s.programFilesFolder = L"C:\\Program Files";
        s.defaultConfigUrl = L"https://bank.example/EBANK/ocx/item.xml";
        return s;
    }

    ScopedVariant Run(ScopedVariant name, ScopedVariant a1 = {}, ScopedVariant a2 = {}, ScopedVariant a3 = {},
                      ScopedVariant a4 = {})
    {
        ScopedVariant result;
        dispatcher_->Handle(&dialog_, name.Get(), a1.Get(), a2.Get(), a3.Get(), a4.Get(), result.Ptr());
        return result;
    }

    void ExpectError(const wchar_t* message)
    {
        ASSERT_EQ(1u, presenter_.shown.size());
        EXPECT_EQ(message, presenter_.shown[0].content);
        EXPECT_EQ(L"错误", presenter_.shown[0].instruction);
        EXPECT_EQ(L"Velmora", presenter_.shown[0].title);
        EXPECT_EQ(kIconError, presenter_.shown[0].icon);
        presenter_.shown.clear();
    }

    RecordingPresenter presenter_;
    Recorder rec_;
    Assistant::CheckConfig config_;
    HeadlessDialog dialog_;
    FakeDispatch* page_ = nullptr;
    std::unique_ptr<CommandDispatcher> dispatcher_;
};

TEST(CommandIdTest, NamesAndIntegersMapToIds)
{
    const std::pair<const wchar_t*, int> rows[] = {
        {L"get_config", 1},       {L"save_settings", 2}, {L"load_settings", 3},     {L"messagebox", 4},
        {L"open_ie", 5},          {L"get_data", 6},      {L"is_key_connect", 7},    {L"do_check", 8},
        {L"do_fix", 9},           {L"do_install", 10},   {L"get_version", 11},      {L"debug_print", 12},
        {L"delay_ms", 13},        {L"call_js", 14},      {L"do_extra_startup", 15}, {L"check_update", 16},
        {L"update_key_info", 17}, {L"restart_app", 18},  {L"http_post", 19},        {L"start_with_boot", 21},
        {L"set_Log", 22},         {L"Get_SM_info", 23},  {L"mini_size", 24},        {L"quit", 25},
        {L"get_notices", 26}};
    for (const auto& [name, id] : rows)
        EXPECT_EQ(id, CommandDispatcher::CommandIdOf(S(name).Get())) << name;
    EXPECT_EQ(7, CommandDispatcher::CommandIdOf(I(7).Get()));
    EXPECT_EQ(-1, CommandDispatcher::CommandIdOf(S(L"Quit").Get()));
    EXPECT_EQ(-1, CommandDispatcher::CommandIdOf(S(L"set_log").Get()));
    EXPECT_EQ(-1, CommandDispatcher::CommandIdOf(R8(7).Get()));
    EXPECT_EQ(-1, CommandDispatcher::CommandIdOf(ScopedVariant().Get()));
}

TEST_F(CommandTest, SaveSettingsStoresByTypeAndRejectsOthersWithTheExactMessage)
{
    Run(S(L"save_settings"), S(L"AutoCheck"), I(7));
    Run(S(L"save_settings"), S(L"IsFirstTime"), B(true));
    Run(S(L"save_settings"), S(L"CloseType"), B(false));
    Run(S(L"save_settings"), S(L"KeyType"), S(L"飞天"));
    EXPECT_EQ(7, rec_.ints[L"AutoCheck"]);
    EXPECT_EQ(-1, rec_.ints[L"IsFirstTime"]);
    EXPECT_EQ(0, rec_.ints[L"CloseType"]);
    EXPECT_EQ(L"飞天", rec_.strings[L"KeyType"]);
    EXPECT_TRUE(presenter_.shown.empty());

    // The program's own settings, in any letter case, and names the page does not use are not
    // written, and nothing is shown.
    for (const wchar_t* key : {L"ConfigUrl", L"configurl", L"CONFIGURL", L"autocheck", L"on", L""})
        Run(S(L"save_settings"), S(key), S(L"C:\\Users\\Public\\item.xml"));
    EXPECT_TRUE(presenter_.shown.empty());

    Run(S(L"save_settings"), S(L"AutoCheck"), R8(1.5));
    ExpectError(L"save_settings第3个参数使用了不支持的类型！");
    EXPECT_EQ(7, rec_.ints[L"AutoCheck"]);
    Run(S(L"save_settings"), I(3), I(1));
    ExpectError(L"save_settings第2个参数应该为String类型！");
    EXPECT_EQ(4u, rec_.ints.size() + rec_.strings.size());
}

TEST_F(CommandTest, LoadSettingsAnswersInTheDefaultsTypeWithTheSixteenBitCut)
{
    ScopedVariant missing = Run(S(L"load_settings"), S(L"update_time"), I(30));
    ASSERT_EQ(VT_I4, missing.Type());
    EXPECT_EQ(30, missing.Get().lVal);
    EXPECT_EQ(L"dflt", std::wstring(StringOf(Run(S(L"load_settings"), S(L"KeyType"), S(L"dflt")).Get())));
    ScopedVariant missingBool = Run(S(L"load_settings"), S(L"flag"), B(true));
    ASSERT_EQ(VT_BOOL, missingBool.Type());
    EXPECT_EQ(VARIANT_TRUE, missingBool.Get().boolVal);

    rec_.ints[L"flag"] = 0;
    EXPECT_EQ(VARIANT_FALSE, Run(S(L"load_settings"), S(L"flag"), B(true)).Get().boolVal);
    rec_.ints[L"flag"] = 0x10000; // only the low 16 bits reach the boolean
    EXPECT_EQ(VARIANT_FALSE, Run(S(L"load_settings"), S(L"flag"), B(true)).Get().boolVal);
    rec_.ints[L"flag"] = 1;
    EXPECT_EQ(VARIANT_TRUE, Run(S(L"load_settings"), S(L"flag"), B(false)).Get().boolVal);

    // Round trip through save: true comes back as true, as an integer -1.
    Run(S(L"save_settings"), S(L"IsFirstTime"), B(true));
    EXPECT_EQ(VARIANT_TRUE, Run(S(L"load_settings"), S(L"IsFirstTime"), B(false)).Get().boolVal);
    EXPECT_EQ(-1, Run(S(L"load_settings"), S(L"IsFirstTime"), I(0)).Get().lVal);
    EXPECT_TRUE(presenter_.shown.empty());

    EXPECT_EQ(VT_EMPTY, Run(S(L"load_settings"), S(L"x"), R8(2.0)).Type());
    ExpectError(L"load_settings第3个参数使用了不支持的类型！");
    EXPECT_EQ(VT_EMPTY, Run(S(L"load_settings"), ScopedVariant(), I(1)).Type());
    ExpectError(L"load_settings第2个参数应该为String类型！");
}

TEST_F(CommandTest, MessageboxOpenIeStartupWordAndSmallCommands)
{
    Run(S(L"messagebox"), S(L"检测完成"), I(kIconWarning));
    Run(S(L"messagebox"), S(L"plain"));
    Run(S(L"messagebox"), I(5));
    ASSERT_EQ(2u, presenter_.shown.size());
    EXPECT_EQ(L"检测完成", presenter_.shown[0].content);
    EXPECT_EQ(L"", presenter_.shown[0].instruction);
    EXPECT_EQ(L"Velmora", presenter_.shown[0].title);
    EXPECT_EQ(kIconWarning, presenter_.shown[0].icon);
    EXPECT_EQ(dialog_.GetWindowHandle(), presenter_.shown[0].owner);
    EXPECT_EQ(kIconNone, presenter_.shown[1].icon);
    presenter_.shown.clear();

    Run(S(L"open_ie"), S(L"https://bank.example/help"));
    Run(S(L"open_ie"), I(1));
    ASSERT_EQ(1u, rec_.programs.size());
    EXPECT_EQ(L"C:\\Program Files\\Internet Explorer\\iexplore.exe", rec_.programs[0].first);
    EXPECT_EQ(L"https://bank.example/help", rec_.programs[0].second);

    EXPECT_EQ(L"Normal", std::wstring(StringOf(Run(S(L"do_extra_startup")).Get())));

    EXPECT_EQ(L"{\"ok\":1}", std::wstring(StringOf(Run(S(L"http_post"), S(L"http://127.0.0.1:1/x")).Get())));
    EXPECT_EQ(VT_EMPTY, Run(S(L"http_post"), I(1)).Type());

    Run(S(L"start_with_boot"), B(true));
    Run(S(L"start_with_boot"), I(1)); // other types: nothing
    Run(S(L"start_with_boot"), B(false));
    EXPECT_EQ((std::vector<bool>{true, false}), rec_.autostart);

    Run(S(L"set_Log"), S(L"检测 ok"));
    ASSERT_EQ(1u, rec_.log.size());
    EXPECT_EQ("\xE6\xA3\x80\xE6\xB5\x8B ok", rec_.log[0]);

    Run(S(L"restart_app"));
    EXPECT_EQ(1, rec_.restarts);

    Run(S(L"update_key_info"), S(L"1"), S(L"csp"));
    ExpectError(L"update_key_info第2个参数应该为int类型！");
    // Unknown names, the unassigned id 20 and debug output answer empty and show nothing.
    EXPECT_EQ(VT_EMPTY, Run(S(L"no_such"), S(L"x")).Type());
    EXPECT_EQ(VT_EMPTY, Run(I(20), S(L"x")).Type());
    EXPECT_EQ(VT_EMPTY, Run(S(L"debug_print"), S(L"x"), B(true)).Type());
    EXPECT_TRUE(presenter_.shown.empty());
    EXPECT_TRUE(page_->Calls().empty());
}

TEST_F(CommandTest, StartupWordIsTheOnlyArgument)
{
    CommandServices s = Services();
    s.commandLineArgs = {L"AutoRun"};
    CommandDispatcher one(s);
    ScopedVariant r, e;
    one.Handle(&dialog_, S(L"do_extra_startup").Get(), e.Get(), e.Get(), e.Get(), e.Get(), r.Ptr());
    EXPECT_EQ(L"AutoRun", std::wstring(StringOf(r.Get())));
    s.commandLineArgs = {L"AutoRun", L"x"};
    CommandDispatcher two(s);
    two.Handle(&dialog_, S(L"do_extra_startup").Get(), e.Get(), e.Get(), e.Get(), e.Get(), r.Ptr());
    EXPECT_EQ(L"Normal", std::wstring(StringOf(r.Get())));
}

TEST_F(CommandTest, HandlerOutlivesItsDispatcher)
{
    // A command still running on a worker when the program tears the dispatcher down.
    CommandHandler handler = dispatcher_->AsHandler();
    dispatcher_.reset();
    ScopedVariant name = S(L"save_settings"), key = S(L"update_time"), value = I(7), e, result;
    handler(&dialog_, name.Get(), key.Get(), value.Get(), e.Get(), e.Get(), result.Ptr());
    EXPECT_EQ(7, rec_.ints[L"update_time"]);
}

TEST_F(CommandTest, QuitFollowsCloseType)
{
    Run(S(L"quit"));
    EXPECT_EQ(1, rec_.quits);
    EXPECT_EQ(0, rec_.postedQuits);
    rec_.ints[L"CloseType"] = 1;
    Run(S(L"quit"));
    EXPECT_EQ(1, rec_.quits);
    EXPECT_EQ(1, rec_.postedQuits);
    rec_.ints[L"CloseType"] = 0;
    Run(I(25));
    EXPECT_EQ(2, rec_.quits);
    EXPECT_EQ(1, rec_.postedQuits);
}

TEST_F(CommandTest, CallJsPassesTheThreeValuesInOrder)
{
    Run(S(L"call_js"), S(L"show3"), I(1), S(L"two"), B(true));
    auto calls = page_->CallsOf(L"show3");
    ASSERT_EQ(1u, calls.size());
    ASSERT_EQ(3u, calls[0].args.size());
    EXPECT_EQ(1, calls[0].args[0].Get().lVal);
    EXPECT_EQ(L"two", std::wstring(StringOf(calls[0].args[1].Get())));
    EXPECT_EQ(VARIANT_TRUE, calls[0].args[2].Get().boolVal);
    Run(S(L"call_js"), S(L"missingFunction"), I(1)); // the page lacks it: no effect
    Run(S(L"call_js"), I(3));
    EXPECT_EQ(1u, page_->Calls().size());
}

TEST_F(CommandTest, DelayReturnsAfterTheIntervalWhileServingPageCallsFromWorkers)
{
    std::atomic<bool> served{false};
    std::thread worker([&] {
        ::Sleep(50);
        // Blocks until the UI thread, busy in delay_ms, has run the page function.
        served = SUCCEEDED(dialog_.CallScript(L"isAnyKeyConnect", nullptr, 0, nullptr));
    });
    const DWORD start = ::GetTickCount();
    Run(S(L"delay_ms"), I(300));
    const DWORD elapsed = ::GetTickCount() - start;
    worker.join();
    EXPECT_GE(elapsed, 290u);
    EXPECT_TRUE(served);
    ASSERT_EQ(1u, page_->CallsOf(L"isAnyKeyConnect").size());
    EXPECT_EQ(::GetCurrentThreadId(), page_->CallsOf(L"isAnyKeyConnect")[0].thread);
    // A quit arriving meanwhile ends the delay and stays queued for the main loop.
    ::PostQuitMessage(3);
    Run(S(L"delay_ms"), I(5000));
    EXPECT_LT(::GetTickCount() - start, 4000u);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
}

constexpr char kConfig[] = R"(<?xml version="1.0" encoding="utf-8"?>
<checkitems>
  <data name="var_url">https://bank.example/notice</data>
  <item name="证书" type="cert" />
  <item name="Key A" type="key" keyid="096e0201" flag="ft" />
  <item name="Key B" type="key" keyid="1ea80001|1ea80002" flag="wd" />
</checkitems>)";

TEST_F(CommandTest, GetConfigTellsThePageEveryFieldInOrderAndFillsKeyIds)
{
    rec_.configText = kConfig;
    rec_.strings[L"ConfigUrl"] = L"https://ebank.bank.example/item.xml";
    Run(S(L"get_config"));
    ASSERT_EQ(1u, rec_.configSources.size());
    EXPECT_EQ(L"https://ebank.bank.example/item.xml", rec_.configSources[0]);
    auto calls = page_->Calls();
    ASSERT_EQ(13u, calls.size());
    const wchar_t* fields[] = {L"name", L"type", L"keyid", L"flag"};
    for (unsigned i = 0; i < 12; ++i) {
        EXPECT_EQ(L"setItemInfo", calls[i].name);
        ASSERT_EQ(3u, calls[i].args.size());
        EXPECT_EQ(i / 4, calls[i].args[0].Get().ulVal);
        EXPECT_EQ(fields[i % 4], std::wstring(StringOf(calls[i].args[1].Get())));
    }
    EXPECT_EQ(L"证书", std::wstring(StringOf(calls[0].args[2].Get())));
    EXPECT_EQ(L"", std::wstring(StringOf(calls[2].args[2].Get()))); // absent attribute: empty text
    EXPECT_EQ(L"1ea80001|1ea80002", std::wstring(StringOf(calls[10].args[2].Get())));
    EXPECT_EQ(L"isAnyKeyConnect", calls[12].name);
    EXPECT_EQ(L"096e0201", dispatcher_->Keys().Get(L"ft"));
    EXPECT_EQ(L"1ea80001|1ea80002", dispatcher_->Keys().Get(L"wd"));
    EXPECT_EQ(2u, dispatcher_->Keys().Snapshot().size());
    EXPECT_EQ(L"https://bank.example/notice",
              std::wstring(StringOf(Run(S(L"get_data"), S(L"var_url")).Get())));
    EXPECT_EQ(L"", std::wstring(StringOf(Run(S(L"get_data"), S(L"missing")).Get())));
    EXPECT_TRUE(presenter_.shown.empty());
    EXPECT_EQ(0, rec_.quits);

    // Without a configured https address the built-in one is used: the setting is the user's to
    // write, and only an https server may decide what the elevated program installs.
    for (const wchar_t* setting :
         {L"", L"http://ebank.bank.example/item.xml", L"C:\\Users\\Public\\item.xml",
          L"\\\\attacker\\share\\item.xml", L"file:///C:/item.xml", L"https:///item.xml"}) {
        rec_.strings[L"ConfigUrl"] = setting;
        Run(S(L"get_config"));
        EXPECT_EQ(L"https://bank.example/EBANK/ocx/item.xml", rec_.configSources.back()) << setting;
    }
    rec_.strings[L"ConfigUrl"] = L"HTTPS://Ebank.Bank.Example/item.xml";
    Run(S(L"get_config"));
    EXPECT_EQ(L"HTTPS://Ebank.Bank.Example/item.xml", rec_.configSources.back());
    rec_.strings.erase(L"ConfigUrl");

    // The notice script is never taken on the word of the cached copy.
    rec_.configStatus = Assistant::kConfigFromCache;
    Run(S(L"get_config"));
    EXPECT_EQ(L"", std::wstring(StringOf(Run(S(L"get_data"), S(L"var_url")).Get())));
}

// The notice file is fetched by the native side and read as data: only a list of texts is taken,
// and the page gets it as a JSON array. Nothing is fetched from an address notices may not come from.
TEST_F(CommandTest, NoticesAreTheNoticeFilesTextsReadAsData)
{
    rec_.configText = kConfig;
    Run(S(L"get_config"));
    // A file in the system's ANSI code page (as a bank's GBK file is on a Chinese system).
    const char ansi[] = "\xC4\xFA\xBA\xC3";
    wchar_t ansiText[8] = {};
    const int ansiLength = MultiByteToWideChar(CP_ACP, 0, ansi, 4, ansiText, 8);
    ASSERT_GT(ansiLength, 0);
    const std::wstring ansiAnswer = L"[\"" + std::wstring(ansiText, ansiLength) + L"\"]";
    const struct {
        std::string body;
        HRESULT status;
        const wchar_t* answer;
    } rows[] = {
        {"window.notices = ['<b>维护</b>', \"say \\\"hi\\\"\\n\"];", S_OK,
         LR"(["<b>维护</b>","say \"hi\"\u000a"])"},
        {"// none today\r\nvar notices = [];", S_OK, L"[]"},
        {"window.notices = ['a']; window.external.getCom('x')", S_OK, L"[]"},
        {"window.notices = [alert(1)];", S_OK, L"[]"},
        {"<html>维护中</html>", S_OK, L"[]"},
        {"window.notices = ['a'];", HRESULT_FROM_WIN32(12002), L"[]"},
        {"window.notices = ['" + std::string(ansi) + "'];", S_OK, ansiAnswer.c_str()},
    };
    for (const auto& row : rows) {
        rec_.fetchBody = row.body;
        rec_.fetchStatus = row.status;
        EXPECT_EQ(row.answer, std::wstring(StringOf(Run(S(L"get_notices")).Get()))) << row.body;
    }
    EXPECT_EQ(std::vector<std::wstring>(std::size(rows), L"https://bank.example/notice"), rec_.fetches);

    // The cached copy names no notice file the page may use: nothing is fetched.
    rec_.configStatus = Assistant::kConfigFromCache;
    Run(S(L"get_config"));
    EXPECT_EQ(L"[]", std::wstring(StringOf(Run(S(L"get_notices")).Get())));
    EXPECT_EQ(std::size(rows), rec_.fetches.size());
}

TEST_F(CommandTest, GetConfigFailureShowsTheMessageAndQuits)
{
    rec_.configStatus = HRESULT_FROM_WIN32(12029);
    Run(S(L"get_config"));
    ASSERT_EQ(1u, presenter_.shown.size());
    EXPECT_EQ(L"获取配置失败，请检查您的网络。", presenter_.shown[0].content);
    EXPECT_EQ(L"错误", presenter_.shown[0].instruction);
    EXPECT_EQ(kIconError, presenter_.shown[0].icon);
    EXPECT_EQ(1, rec_.quits);
    EXPECT_TRUE(page_->Calls().empty()); // no partial list
}

TEST_F(CommandTest, GetConfigAndHttpPostAgainstALoopbackServer)
{
    Assistant::Testing::LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    server.Respond(200, kConfig);
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.Port());
    CommandServices services = Services();
    const CommandServices program = ProgramCommandServices();
    services.loadConfig = program.loadConfig;
    services.httpPost = program.httpPost;
    // A developer's command line may name a plain http server (the setting may not).
    services.configOverride = base + L"/EBANK/ocx/item.xml";
    CommandDispatcher dispatcher(services);
    auto run = [&](const wchar_t* name, ScopedVariant a1 = {}) {
        ScopedVariant result, e;
        dispatcher.Handle(&dialog_, S(name).Get(), a1.Get(), e.Get(), e.Get(), e.Get(), result.Ptr());
        return result;
    };
    run(L"get_config");
    EXPECT_EQ(1, server.Requests());
    EXPECT_EQ(13u, page_->Calls().size());
    EXPECT_EQ(L"isAnyKeyConnect", page_->Calls().back().name);
    EXPECT_EQ(L"096e0201", dispatcher.Keys().Get(L"ft"));
    EXPECT_TRUE(presenter_.shown.empty());

    server.Respond(200, "answer 应答");
    EXPECT_EQ(L"answer 应答", std::wstring(StringOf(run(L"http_post", S((base + L"/post").c_str())).Get())));

    server.Stop();
    EXPECT_EQ(L"", std::wstring(StringOf(run(L"http_post", S((base + L"/post").c_str())).Get())));
    run(L"get_config");
    ExpectError(L"获取配置失败，请检查您的网络。");
    EXPECT_EQ(1, rec_.quits);
    EXPECT_EQ(13u, page_->Calls().size()); // nothing more told to the page
}

TEST_F(CommandTest, ProgressReportsThinOutAndKeepSeparateLastValues)
{
    dispatcher_->SetCurrentItem(4);
    for (int p : {0, 1, 2, 3, 50, -1})
        dispatcher_->ReportProgress(&dialog_, p, true);
    // The update callback has its own last value: 1 is a move of one from its own 0.
    for (int p : {1, 0, 30})
        dispatcher_->ReportUpdateProgress(&dialog_, p, false);
    auto calls = page_->CallsOf(L"setProgress");
    const int expected[][2] = {{0, 4}, {2, 4}, {50, 4}, {100, 4}, {0, -1}, {30, -1}};
    ASSERT_EQ(6u, calls.size());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i][0], calls[i].args[0].Get().lVal) << i;
        EXPECT_EQ(expected[i][1], calls[i].args[1].Get().lVal) << i;
        EXPECT_EQ(i < 4 ? VARIANT_TRUE : VARIANT_FALSE, calls[i].args[2].Get().boolVal) << i;
    }
}

TEST_F(CommandTest, RequestsRunOneAtATimeWhateverThreadTheyArriveOn)
{
    std::atomic<int> inside{0}, most{0}, served{0};
    std::vector<int> ids;
    std::mutex idsLock;
    CommandServices services = Services();
    auto serve = [&](int id) {
        most = std::max(most.load(), ++inside);
        ::Sleep(20);
        --inside;
        ++served;
        std::lock_guard<std::mutex> g(idsLock);
        ids.push_back(id);
    };
    services.runRequest = [&](Assistant::CheckConfig&, const Assistant::RunTarget&, bool checkOnly,
                              const EngineProgress&) -> std::optional<std::string> {
        serve(checkOnly ? 8 : 9);
        return std::string("{}");
    };
    services.checkUpdate = [&](Assistant::CheckConfig&, bool, HWND, const EngineProgress&) {
        serve(16);
        return false;
    };
    CommandDispatcher dispatcher(services);
    auto run = [&](ScopedVariant name, ScopedVariant a1) {
        ScopedVariant result, e;
        dispatcher.Handle(&dialog_, name.Get(), a1.Get(), e.Get(), e.Get(), e.Get(), result.Ptr());
        return result;
    };
    std::vector<std::thread> threads;
    const wchar_t* names[] = {L"do_check", L"do_fix", L"do_install"};
    for (const wchar_t* n : names)
        threads.emplace_back([&, n] { run(S(n), S(L"host")); });
    EXPECT_EQ(VT_EMPTY, run(I(16), B(true)).Type()); // check_update, on this thread meanwhile
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(4, served.load());
    EXPECT_EQ(1, most.load());
    // Version texts and the key commands are not served by the request path.
    EXPECT_EQ(VT_EMPTY, run(S(L"get_version"), S(L"osversion")).Type());
    EXPECT_EQ(VT_EMPTY, run(S(L"is_key_connect"), S(L"096e0201")).Type());
    EXPECT_EQ(VT_EMPTY, run(S(L"Get_SM_info"), S(L"csp")).Type());
    EXPECT_EQ(VT_EMPTY, run(S(L"update_key_info"), I(1)).Type());
    EXPECT_EQ(4, served.load());
}

// The engine may hold the request lock for minutes (a download, an installer); the page's
// synchronous reads on the UI thread must not wait for it. Both reads are answered while the worker
// is still held.
TEST_F(CommandTest, PageDataIsReadWhileARequestHoldsTheEngine)
{
    rec_.configText = kConfig;
    rec_.strings[L"ConfigUrl"] = L"https://bank.example/item.xml";
    Run(S(L"get_config"));

    ScopedHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> releasedInTime{false};
    CommandServices services = Services();
    services.runRequest = [&](Assistant::CheckConfig&, const Assistant::RunTarget&, bool,
                              const EngineProgress&) -> std::optional<std::string> {
        ::SetEvent(entered.Get());
        // Stands in for a long download; a read that waited for the lock would leave this to time out.
        releasedInTime = ::WaitForSingleObject(release.Get(), 30000) == WAIT_OBJECT_0;
        return std::string("{}");
    };
    CommandDispatcher dispatcher(services);
    // The same model, read through get_config of this dispatcher.
    {
        ScopedVariant result, e;
        dispatcher.Handle(&dialog_, S(L"get_config").Get(), e.Get(), e.Get(), e.Get(), e.Get(), result.Ptr());
    }
    std::thread worker([&] {
        ScopedVariant result, e;
        dispatcher.Handle(&dialog_, S(L"do_install").Get(), I(0).Get(), e.Get(), e.Get(), e.Get(),
                          result.Ptr());
    });
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(entered.Get(), 30000));

    ScopedVariant notice, e;
    dispatcher.Handle(&dialog_, S(L"get_data").Get(), S(L"var_url").Get(), e.Get(), e.Get(), e.Get(),
                      notice.Ptr());
    ScopedVariant missing;
    dispatcher.Handle(&dialog_, S(L"get_data").Get(), S(L"missing").Get(), e.Get(), e.Get(), e.Get(),
                      missing.Ptr());
    ::SetEvent(release.Get());
    worker.join();

    EXPECT_TRUE(releasedInTime) << "get_data waited for the request in progress";
    EXPECT_EQ(L"https://bank.example/notice", std::wstring(StringOf(notice.Get())));
    EXPECT_EQ(L"", std::wstring(StringOf(missing.Get())));
}

TEST_F(CommandTest, RequestLockWaiterOnTheUiThreadServesTheHoldersPageCall)
{
    std::atomic<bool> holding{false};
    std::atomic<bool> pageCalled{false};
    std::thread worker([&] {
        RequestLock::Guard g(RequestLock::Instance());
        holding = true;
        ::Sleep(50);
        pageCalled = SUCCEEDED(dialog_.CallScript(L"isAnyKeyConnect", nullptr, 0, nullptr));
    });
    while (!holding)
        ::Sleep(1);
    // Would dead-lock if waiting for the lock stopped this thread from serving the worker's call.
    {
        RequestLock::Guard g(RequestLock::Instance());
    }
    worker.join();
    EXPECT_TRUE(pageCalled);
}

} // namespace

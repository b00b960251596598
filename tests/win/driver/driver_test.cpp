// The engine's commands as the page issues them: through the real command handler with the
// program's own services, down to the real handlers, and back as the page's JSON answers. A
// recording message presenter stands in for the person in front of the screen.

#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "checks/check_config.h"
#include "checks/digest.h"
#include "common/message_box_win.h"
#include "common/option_table.h"
#include "common/text_win.h"
#include "install/self_update_win.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"
#include "win/app/win_test_support.h"
#include "win/checks/registry_test_support.h"
#include "win/checks/test_files.h"
#include "win/ui/fake_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace Velmora;
using namespace Velmora::UI;
using namespace Velmora::UI::Testing;

namespace {

constexpr wchar_t kTestKey[] = L"Software\\VelmoraDriverTest";
constexpr wchar_t kTrustedSiteKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\velmora-road.test";

class RecordingPresenter : public IMessagePresenter {
public:
    int Present(const MessageRequest& request) override
    {
        shown.push_back(request);
        return answer;
    }
    std::vector<MessageRequest> shown;
    int answer = kAnswerNo;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As on the program's command worker.
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        Clean();
        SetMessagePresenter(&presenter_);
        page_ = new FakeDispatch();
        page_->Define(L"setProgress", [](const std::vector<ScopedVariant>&, VARIANT*) {});
        dialog_.LoadPage(page_);
        CommandServices services = ProgramCommandServices();
        services.config = &config_;
        services.restartApplication = [this] { ++restarts_; };
        dispatcher_ = std::make_unique<CommandDispatcher>(std::move(services));
    }
    void TearDown() override
    {
        SetMessagePresenter(nullptr);
        page_->Release();
        Clean();
        ::CoUninitialize();
    }
    static void Clean()
    {
        Assistant::Testing::DeleteTree(HKEY_CURRENT_USER, kTestKey);
        Assistant::Testing::DeleteTree(HKEY_CURRENT_USER, kTrustedSiteKey);
    }

    void Load(const std::string& document)
    {
        config_.Clear();
        ASSERT_TRUE(Assistant::ParseCheckConfig(config_, document));
    }

    // The answer as the page's callback receives it; "<empty>" for no value.
    std::wstring Run(const wchar_t* command, ScopedVariant target)
    {
        ScopedVariant result;
        ScopedVariant none;
        dispatcher_->Handle(&dialog_, ScopedVariant::String(command).Get(), target.Get(), none.Get(),
                            none.Get(), none.Get(), result.Ptr());
        if (result.Get().vt == VT_EMPTY)
            return L"<empty>";
        return std::wstring(StringOf(result.Get()));
    }

    RecordingPresenter presenter_;
    Assistant::CheckConfig config_;
    HeadlessDialog dialog_;
    FakeDispatch* page_ = nullptr;
    std::unique_ptr<CommandDispatcher> dispatcher_;
    int restarts_ = 0;
};

constexpr char kDocument[] = R"(<checkitems>
  <config type="registry">
    <entry name="Mode" type="reg_sz" value="on">HKCU\Software\VelmoraDriverTest</entry>
  </config>
  <config type="trust"><entry>http://www.velmora-road.test</entry></config>
  <item name="Control" type="ocx" flag="ctl">
    <detect dtype="registry" name="Installed" type="reg_dword" value="1">HKCU\Software\VelmoraDriverTest</detect>
  </item>
  <item name="Plain" type="ocx" flag="plain"/>
</checkitems>)";

TEST_F(DriverTest, TypesAndItemsTravelFromTheCommandToTheHandlersAndBackAsThePagesAnswers)
{
    Load(kDocument);
    struct Row {
        const wchar_t* command;
        ScopedVariant target;
        const wchar_t* answer;
    } rows[] = {
        {L"do_check", ScopedVariant::String(L"registry"), LR"({ "type" : "registry", "result" : false})"},
        {L"do_fix", ScopedVariant::String(L"registry"), LR"({ "type" : "registry", "result" : true})"},
        {L"do_check", ScopedVariant::String(L"registry"), LR"({ "type" : "registry", "result" : true})"},
        // The check itself tries to put trusted sites right; Wine cannot map a site to a zone
        // (SetZoneMapping is not implemented there), so the repair fails here.
        {L"do_check", ScopedVariant::String(L"trust"), LR"({ "type" : "trust", "result" : false})"},
        {L"do_check", ScopedVariant::String(L"nosuch"), LR"({ "type" : "nosuch", "result" : false})"},
        {L"do_check", ScopedVariant::Int(0), LR"({ "index" : 0, "result" : 3})"},
        {L"do_check", ScopedVariant::Int(1), LR"({ "index" : 1, "result" : 0})"},
        // An installed item (no detect entries) installs nothing.
        {L"do_install", ScopedVariant::Int(1), LR"({ "index" : 1, "result" : 0})"},
        {L"do_check", ScopedVariant::Int(2), L"<empty>"},
        {L"do_check", ScopedVariant::Bool(true), L"<empty>"},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.answer);
        EXPECT_EQ(row.answer, Run(row.command, std::move(row.target)));
    }
    EXPECT_TRUE(presenter_.shown.empty());

    // Mapped the way the zone manager records it, the site passes.
    ASSERT_TRUE(Assistant::Testing::SetRaw(HKEY_CURRENT_USER, std::wstring(kTrustedSiteKey) + L"\\www",
                                           L"http", REG_DWORD, Assistant::Testing::DwordBytes(2)));
    EXPECT_EQ(LR"({ "type" : "trust", "result" : true})", Run(L"do_check", ScopedVariant::String(L"trust")));

    Assistant::Testing::SetRaw(HKEY_CURRENT_USER, kTestKey, L"Installed", REG_DWORD,
                               Assistant::Testing::DwordBytes(1));
    EXPECT_EQ(LR"({ "index" : 0, "result" : 0})", Run(L"do_check", ScopedVariant::Int(0)));
}

TEST_F(DriverTest, CacheCheckTouchesNothingAndItsRepairTellsTheUserWhenDone)
{
    Load("<checkitems/>");
    EXPECT_EQ(LR"({ "type" : "cache", "result" : true})", Run(L"do_check", ScopedVariant::String(L"cache")));
    EXPECT_TRUE(presenter_.shown.empty());
    EXPECT_EQ(LR"({ "type" : "cache", "result" : true})", Run(L"do_fix", ScopedVariant::String(L"cache")));
    ASSERT_EQ(1u, presenter_.shown.size());
    EXPECT_FALSE(presenter_.shown[0].askYesNo);
    EXPECT_EQ(L"清理结束", presenter_.shown[0].content);
    EXPECT_EQ(L"完成", presenter_.shown[0].title);
}

// The assistant's own update: the appinfo record's detect entry looks for the version the test
// installer writes, and its installer is that program, served by a loopback server.
class UpdateTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_TRUE(server_.IsListening());
        ASSERT_FALSE(installer_.empty()) << "the test installer is built beside the tests";
        server_.Respond(200, installer_);
        Options().Set(kOptionDownloadBesideExe, 1);
        RemoveDownloads();
    }
    void TearDown() override
    {
        RemoveDownloads();
        Options().Set(kOptionDownloadBesideExe, 0);
        DriverTest::TearDown();
    }
    // A verified installer kept from an earlier test would be run without a download.
    static void RemoveDownloads()
    {
        for (const wchar_t* name : {L"update.exe", L"control.exe"})
            Assistant::Testing::RemoveFile(DownloadedPath(name));
    }
    static std::wstring DownloadedPath(const wchar_t* name = L"update.exe")
    {
        wchar_t exe[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        const std::wstring path = exe;
        return path.substr(0, path.find_last_of(L'\\')) + L"\\Download\\" + name;
    }

    void LoadAppInfo(const char* imperative) { Load(AppInfoDocument(imperative)); }

    std::string AppInfoDocument(const char* imperative)
    {
        // The log's path is quoted, and the quotation marks are written as the document must.
        const std::string parameter = WideToUtf8(L"/reg:" + std::wstring(kTestKey) +
                                                 L" /name:Version /data:2 /log:&quot;" + log_ + L"&quot;");
        std::string document = "<checkitems><appinfo";
        if (imperative)
            document += std::string(" imperative=\"") + imperative + "\"";
        document += ">"
                    "<detect dtype=\"registry\" name=\"Version\" type=\"reg_sz\" value=\"2\">"
                    "HKCU\\Software\\VelmoraDriverTest</detect>"
                    "<installer sha256=\"" +
                    Assistant::DigestHex(installer_, Assistant::kDigestSha256) + "\" parameter=\"" +
                    parameter + "\">http://127.0.0.1:" + std::to_string(server_.Port()) +
                    "/app/update.exe</installer></appinfo></checkitems>";
        return document;
    }

    // check_update as the page sends it; the answer carries no value.
    void CheckUpdate(bool interactive)
    {
        EXPECT_EQ(L"<empty>", Run(L"check_update", ScopedVariant::Bool(interactive)));
    }

    int InstallerRuns() const
    {
        const std::string text = VelmoraTest::ReadFileBytes(log_);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }

    Assistant::Testing::LoopbackServer server_;
    const std::string installer_ =
        Assistant::Testing::ReadBytes(VelmoraTest::WindowsPath(TEST_INSTALLER_EXE));
    VelmoraTest::TempFolder logs_{L"velmora-update-"};
    const std::wstring log_ = logs_ / L"runs.txt";
};

TEST_F(UpdateTest, UpToDateIsSilentUnlessTheUserAsked)
{
    LoadAppInfo(nullptr);
    Assistant::Testing::SetRaw(HKEY_CURRENT_USER, kTestKey, L"Version", REG_SZ,
                               Assistant::Testing::TextBytes(L"2"));
    CheckUpdate(false);
    EXPECT_TRUE(presenter_.shown.empty());
    CheckUpdate(true);
    ASSERT_EQ(1u, presenter_.shown.size());
    EXPECT_FALSE(presenter_.shown[0].askYesNo);
    EXPECT_EQ(L"应用程序为当前最新版本。", presenter_.shown[0].content);
    EXPECT_EQ(L"无需更新", presenter_.shown[0].instruction);
    EXPECT_EQ(L"网银助手", presenter_.shown[0].title);
    EXPECT_EQ(kIconInformation, presenter_.shown[0].icon);
    EXPECT_EQ(0, server_.Requests());
    EXPECT_EQ(0, restarts_);
}

TEST_F(UpdateTest, OptionalUpdatesAreAskedForMandatoryOnesOnlyAnnounced)
{
    struct Row {
        const char* imperative;
        int answer;
        bool asked;
        bool installs;
    } rows[] = {
        {nullptr, kAnswerNo, true, false}, // declined: nothing touched
        {"yes", kAnswerNo, true, false},   // not one of the mandatory words
        {"yes", kAnswerYes, true, true},
        {"TRUE", kAnswerNo, false, true}, // mandatory: told, then installed whatever the answer
        {"1", kAnswerNo, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.imperative ? row.imperative : "(none)");
        Clean();
        Assistant::Testing::RemoveFile(DownloadedPath());
        presenter_.shown.clear();
        presenter_.answer = row.answer;
        restarts_ = 0;
        const int requestsBefore = server_.Requests();
        const int runsBefore = InstallerRuns();
        LoadAppInfo(row.imperative);

        CheckUpdate(false);
        ASSERT_EQ(1u, presenter_.shown.size());
        const MessageRequest& shown = presenter_.shown[0];
        EXPECT_EQ(row.asked, shown.askYesNo);
        EXPECT_EQ(row.asked ? L"应用程序有更新发布\n是否立即应用" : L"应用程序有重要更新\n需要立即应用",
                  shown.content);
        EXPECT_EQ(L"发现更新", shown.instruction);
        EXPECT_EQ(L"网银助手", shown.title);
        if (row.asked) {
            EXPECT_EQ(L"立即更新", shown.yesLabel);
            EXPECT_EQ(L"稍后更新", shown.noLabel);
        }
        EXPECT_EQ(row.installs ? 1 : 0, server_.Requests() - requestsBefore);
        EXPECT_EQ(row.installs ? 1 : 0, InstallerRuns() - runsBefore);
        EXPECT_EQ(row.installs ? 1 : 0, restarts_);
        EXPECT_EQ(row.installs,
                  Assistant::Testing::GetRaw(HKEY_CURRENT_USER, kTestKey, L"Version").type == REG_SZ);
    }
    // The download's progress went to the page as the assistant's own (index -1).
    const std::vector<FakeDispatch::Call> progress = page_->CallsOf(L"setProgress");
    ASSERT_FALSE(progress.empty());
    for (const FakeDispatch::Call& call : progress)
        EXPECT_EQ(-1, call.args[1].Get().lVal);
}

TEST_F(UpdateTest, ASuccessfulUpdateStartsANewCopyOfTheProgramAndEndsThisOne)
{
    const std::wstring document = logs_ / L"check.xml";
    const std::wstring marker = logs_ / L"restarts.txt";
    ASSERT_TRUE(Assistant::Testing::WriteBytes(document, AppInfoDocument(nullptr)));
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_RESTART_MARKER", marker.c_str()));

    std::wstring commandLine = VelmoraTest::Quoted(VelmoraTest::WindowsPath(UPDATE_PROBE_EXE)) + L" " +
                               VelmoraTest::Quoted(document);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    ScopedHandle first(process.hProcess);
    ScopedHandle firstThread(process.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.Get(), 60000));
    DWORD exitCode = 99;
    GetExitCodeProcess(first.Get(), &exitCode);
    SetEnvironmentVariableW(L"VELMORA_RESTART_MARKER", nullptr);
    EXPECT_EQ(0u, exitCode) << "the first copy ends on the restart's quit message";

    EXPECT_EQ(1, InstallerRuns());
    ASSERT_TRUE(VelmoraTest::WaitForFile(marker)) << "the new copy was started";
    const std::string restarts = VelmoraTest::ReadFileBytes(marker);
    EXPECT_EQ(1, std::count(restarts.begin(), restarts.end(), '\n')) << restarts;
    EXPECT_EQ(std::string::npos, restarts.find("restarted " + std::to_string(process.dwProcessId) + "\r"));
}

TEST_F(UpdateTest, AFailedDownloadKeepsTheProgramRunningWithoutAMessage)
{
    presenter_.answer = kAnswerYes;
    const struct {
        const char* what;
        int status;
        const char* body;
    } cases[] = {{"HTTP error", 404, "missing"}, {"not the installer the document names", 200, "MZ forged"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        presenter_.shown.clear();
        LoadAppInfo(nullptr);
        const int requestsBefore = server_.Requests();
        server_.Respond(c.status, c.body);
        CheckUpdate(true);
        ASSERT_EQ(1u, presenter_.shown.size()); // the question only
        EXPECT_TRUE(presenter_.shown[0].askYesNo);
        EXPECT_EQ(1, server_.Requests() - requestsBefore);
        EXPECT_EQ(0, InstallerRuns());
        EXPECT_EQ(0, restarts_);
        EXPECT_FALSE(VelmoraTest::FileExists(DownloadedPath()));
        // The page's last word on the download is the failure ("更新失败"), never "更新完成".
        const std::vector<FakeDispatch::Call> progress = page_->CallsOf(L"setProgress");
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(VT_BOOL, progress.back().args[2].Get().vt);
        EXPECT_EQ(VARIANT_FALSE, progress.back().args[2].Get().boolVal);
    }
}

// A component's installer that arrives whole but is not the one the document names is refused,
// and the page hears of it as of a failed download ("下载失败"), never "下载完成".
TEST_F(UpdateTest, ARefusedComponentDownloadIsAFailureOnThePage)
{
    const std::string wanted = Assistant::DigestHex(installer_, Assistant::kDigestSha256);
    Load("<checkitems><item name=\"Control\" type=\"ocx\" flag=\"ctl\">"
         "<detect dtype=\"registry\" name=\"Version\" type=\"reg_sz\" value=\"2\">"
         "HKCU\\Software\\VelmoraDriverTest</detect>"
         "<installer sha256=\"" +
         wanted + "\">http://127.0.0.1:" + std::to_string(server_.Port()) +
         "/ctl/control.exe</installer></item></checkitems>");
    server_.Respond(200, "MZ forged");
    Run(L"do_install", ScopedVariant::Int(0));
    EXPECT_EQ(1, server_.Requests());
    EXPECT_EQ(0, InstallerRuns());
    const std::vector<FakeDispatch::Call> progress = page_->CallsOf(L"setProgress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(0, progress.back().args[1].Get().lVal) << "the component's index";
    EXPECT_EQ(VT_BOOL, progress.back().args[2].Get().vt);
    EXPECT_EQ(VARIANT_FALSE, progress.back().args[2].Get().boolVal);
}

// A component whose add-on the customer switched off once: one install puts the component in place
// and switches the add-on on again, so the page is told it is installed. Which the page is shown
// first depends on the order of the detect entries: the last failure is the item's.
TEST_F(UpdateTest, AnInstallSwitchesTheComponentsAddOnBackOn)
{
    using namespace Assistant::Testing;
    const std::wstring clsid = L"{3C9E5A21-7B4D-4F08-9A6E-D1F2B3C4A5E6}";
    const std::wstring registration = L"CLSID\\" + clsid;
    const std::wstring addOn = L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\" + clsid;
    struct Cleanup {
        const std::wstring& registration;
        const std::wstring& addOn;
        ~Cleanup()
        {
            DeleteTree(HKEY_CLASSES_ROOT, registration);
            DeleteTree(HKEY_CURRENT_USER, addOn);
        }
    } cleanup{registration, addOn};
    const std::string marker = "<detect dtype=\"registry\" name=\"Version\" type=\"reg_sz\" value=\"2\">"
                               "HKCU\\Software\\VelmoraDriverTest</detect>";
    const std::string control = "<detect dtype=\"clsid\">" + WideToUtf8(clsid) + "</detect>";
    const std::string installer =
        "<installer sha256=\"" + Assistant::DigestHex(installer_, Assistant::kDigestSha256) +
        "\" parameter=\"" +
        WideToUtf8(L"/reg:" + std::wstring(kTestKey) + L" /name:Version /data:2 /log:&quot;" + log_ +
                   L"&quot;") +
        "\">http://127.0.0.1:" + std::to_string(server_.Port()) + "/ctl/control.exe</installer>";
    struct Row {
        std::string detect;
        const wchar_t* shownFirst;
    } rows[] = {
        {control + marker, LR"({ "index" : 0, "result" : 3})"}, // switched off found after the install
        {marker + control, LR"({ "index" : 0, "result" : 1})"}, // installed after switching on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.shownFirst));
        Clean();
        ASSERT_TRUE(SetRaw(HKEY_CLASSES_ROOT, registration + L"\\InprocServer32", L"", REG_SZ,
                           TextBytes(VelmoraTest::WindowsPath(TEST_INSTALLER_EXE))));
        ASSERT_TRUE(SetRaw(HKEY_CURRENT_USER, addOn, L"Flags", REG_DWORD, DwordBytes(1)));
        const int runsBefore = InstallerRuns();
        Load("<checkitems><item name=\"Control\" type=\"ocx\" flag=\"ctl\">" + row.detect + installer +
             "</item></checkitems>");
        EXPECT_EQ(row.shownFirst, Run(L"do_check", ScopedVariant::Int(0)));

        EXPECT_EQ(LR"({ "index" : 0, "result" : 0})", Run(L"do_install", ScopedVariant::Int(0)));
        EXPECT_EQ(1, InstallerRuns() - runsBefore);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, addOn)) << "switched on";
    }
}

// The update counts as applied only when its detection passes after the installers ran.
TEST(ApplyUpdate, TrueOnlyWhenTheNewVersionIsDetectedAfterwards)
{
    struct Detector : Assistant::ICheckFix {
        std::int32_t result = Assistant::kResultFailed;
        std::int32_t CheckEntry(Assistant::ConfigEntry&) override { return result; }
        std::int32_t FixEntry(Assistant::ConfigEntry&) override { return Assistant::kResultNotFixable; }
    };
    const struct {
        const char* what;
        const char* dtype;          // of the one detect entry; "none": no handler for it
        std::int32_t installed;     // what the installers answer
        std::int32_t detectedAfter; // the detection once they ran
        bool applied;
    } cases[] = {
        {"installed and detected", "fake", 2, 2, true},
        {"installed, detection still fails (file left for the restart)", "fake", 2, -2, false},
        {"installed, an older version detected", "fake", 2, 1, false},
        {"installed, no handler checks the entry", "none", 2, 2, false},
        {"the installers failed", "fake", -2, 2, false},
    };
    for (const auto& c : cases) {
        Detector detector;
        Assistant::CheckConfig config;
        config.AppInfoDetect.emplace_back().Attributes.Set("dtype", c.dtype);
        Assistant::UpdateServices services;
        services.handlerFor = [&](std::string_view type) -> Assistant::ICheckFix* {
            return type == "fake" ? &detector : nullptr;
        };
        services.installItem = [&](std::vector<Assistant::ConfigEntry>&,
                                   std::vector<Assistant::ConfigEntry>&) {
            detector.result = c.detectedAfter;
            return c.installed;
        };
        EXPECT_EQ(Assistant::ApplyUpdate(config, services), c.applied) << c.what;
    }
}

// The program ends while a command worker is inside a download that would never finish: the
// download stops, the worker's command returns before the program's objects go, and the process
// ends normally with its log intact.
TEST(ExitTest, QuittingDuringADownloadEndsTheWorkerFirstAndExitsCleanly)
{
    Assistant::Testing::LoopbackServer server;
    ASSERT_TRUE(server.IsListening());
    server.Respond(200, "MZ");
    server.Trickle();
    VelmoraTest::TempFolder folder{L"velmora-exit-"};
    const std::wstring log = folder / L"Log.log";
    const std::wstring eventName = L"VelmoraExitProbeQuit-" + std::to_wstring(GetCurrentProcessId());
    ScopedHandle quit(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(quit);

    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/slow/setup.exe";
    std::wstring commandLine = VelmoraTest::Quoted(VelmoraTest::WindowsPath(EXIT_PROBE_EXE)) + L" " + url +
                               L" " + VelmoraTest::Quoted(log) + L" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    ScopedHandle probe(process.hProcess);
    ScopedHandle probeThread(process.hThread);
    for (int tick = 0; tick < 1500 && !server.Trickling(); ++tick)
        Sleep(20);
    ASSERT_TRUE(server.Trickling()) << "the download did not start";
    SetEvent(quit.Get());

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe.Get(), 60000)) << "the program did not end";
    DWORD exitCode = 99;
    GetExitCodeProcess(probe.Get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << "4: ended without waiting for the worker; anything else: a crash";
    EXPECT_EQ("start\r\nquit\r\nworker { \"index\" : 0, \"result\" : 3}\r\nstopped\r\n",
              VelmoraTest::ReadFileBytes(log));
    server.Stop();
}

} // namespace

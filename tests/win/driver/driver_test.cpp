// The engine's commands as the page issues them: through the real command handler with the
// program's own services, down to the real handlers, and back as the page's JSON answers. A
// recording message presenter stands in for the person in front of the screen.

#include "checks/check_config.h"
#include "common/text_win.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"
#include "ui/message_box_win.h"
#include "win/checks/registry_test_support.h"
#include "win/ui/fake_page.h"

#include <gtest/gtest.h>

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
        dispatcher_->Handle(&dialog_, ScopedVariant::String(command).Get(), target.Get(), none.Get(), none.Get(),
                            none.Get(), result.Ptr());
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
    ASSERT_TRUE(Assistant::Testing::SetRaw(HKEY_CURRENT_USER, std::wstring(kTrustedSiteKey) + L"\\www", L"http",
                                           REG_DWORD, Assistant::Testing::DwordBytes(2)));
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

} // namespace

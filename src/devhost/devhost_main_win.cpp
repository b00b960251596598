// Entry of VelmoraDevHost.exe: the assistant's page for any browser on this machine, with the
// program's command handler and engine behind it. It runs with the rights it was started with and
// never elevates.
// Winsock's header must come before windows.h, which the others bring in.
#include <winsock2.h>

#include "app/assistant_app_win.h"
#include "app/console_output_win.h"
#include "app/library_search_win.h"
#include "app/program_start_win.h"
#include "checks/check_fix.h"
#include "common/message_box_win.h"
#include "common/text_win.h"
#include "devhost/devhost_options.h"
#include "devhost/devhost_site_win.h"
#include "devhost/loopback_server_win.h"
#include "devhost/page_channel.h"
#include "devhost/remote_page_win.h"
#include "devhost/request_rules.h"
#include "install/self_update.h"
#include "ui/assistant_commands_win.h"
#include "ui/command_handler_win.h"

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace Velmora;

// The host ends when the page quits (or asks for a restart), or on Ctrl+C.
class QuitSignal {
public:
    void Raise(const char* why)
    {
        std::lock_guard<std::mutex> held(lock_);
        if (!raised_)
            why_ = why;
        raised_ = true;
        changed_.notify_all();
    }
    const char* Wait()
    {
        std::unique_lock<std::mutex> held(lock_);
        changed_.wait(held, [this] { return raised_; });
        return why_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool raised_ = false;
    const char* why_ = "";
};

QuitSignal g_quit;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_quit.Raise("interrupted");
    return TRUE;
}

bool NewToken(std::string* token)
{
    unsigned char random[16];
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    *token = DevHost::TokenFromBytes(random);
    return true;
}

int Run(const std::vector<std::wstring>& args, Console::ConsoleOutput& out)
{
    const DevHost::DevHostOptions options = DevHost::ParseDevHostArguments(args);
    if (!options.error.empty()) {
        out.Error(WideToUtf8(options.error) + "\r\n" + WideToUtf8(DevHost::kDevHostUsage));
        return 2;
    }
    if (options.help) {
        out.Write(WideToUtf8(DevHost::kDevHostUsage));
        return 0;
    }

    // The same single-instance object as the program: the two never repair at once.
    ProgramStartOptions startOptions;
    startOptions.configOverride = options.config;
    const ProgramStart start(std::move(startOptions));
    if (start.Status() != S_OK) {
        out.Error("网银助手正在运行：请先关闭它，再启动开发主机。\r\n");
        return 3;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    UI::CommandServices services = start.Services();
    services.quitApplication = [] { g_quit.Raise("quit"); };
    services.postQuit = [] { g_quit.Raise("quit"); };
    // The browser's page stays where it is; a new host is started by whoever started this one.
    services.restartApplication = [] { g_quit.Raise("restart"); };
    // What would change the machine beyond the program's settings, log and downloads is answered as
    // the program answers it, and only printed: the browser it would open, starting with Windows
    // (the Run key would start this host instead of the program, which then refuses to start), and
    // a new version of the program installed over the machine's.
    services.openBrowser = [&out](const std::wstring&, const std::wstring& url) {
        out.Write("page asks to open: " + WideToUtf8(url) + "\r\n");
    };
    services.setAutostart = [&out](bool on) {
        out.Write(std::string("page asks to start with Windows: ") + (on ? "on" : "off") +
                  " (not applied)\r\n");
    };
    services.checkUpdate = [&out](Assistant::CheckConfig& config, bool, HWND, const UI::EngineProgress&) {
        if (Assistant::UpdateNeeded(config, Assistant::HandlerForType, nullptr))
            out.Write("page asks to install the bank's newer version of the assistant (not applied)\r\n");
        return false;
    };
    services.commandLineArgs.clear();
    UI::CommandDispatcher dispatcher(std::move(services));

    std::string token;
    if (!NewToken(&token)) {
        out.Error("无法生成访问令牌。\r\n");
        return 1;
    }
    DevHost::PageChannel channel;
    DevHost::DevHostSite site(channel, dispatcher.AsHandler());
    DevHost::RemotePresenter presenter(channel);
    const UI::ScopedMessagePresenter presenterInUse(&presenter);

    DevHost::LoopbackServer server;
    const int error = server.Start(
        options.port, [&site](const DevHost::HttpRequest& head) { return site.Screen(head); },
        [&site](const DevHost::HttpRequest& request) { return site.Serve(request); });
    if (error != 0) {
        out.Error("无法在 127.0.0.1:" + std::to_string(options.port) + " 上监听（Winsock " +
                  std::to_string(error) + "）。\r\n");
        return 1;
    }
    site.SetAccessRule({token, server.Port()});
    out.Write("网银助手开发主机：在浏览器中打开\r\nURL: http://127.0.0.1:" + std::to_string(server.Port()) +
              "/" + token + "/\r\n");

    const char* why = g_quit.Wait();
    out.Write(std::string("开发主机结束（") + why + "）。\r\n");
    // Waiting page requests fail and polls return, then the connections close and the workers end.
    channel.Close(std::chrono::seconds(2));
    server.Stop();
    // A command still running after that ends with the process, not with the objects it uses.
    StopWorkersForExit(0);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Before any library is loaded on demand.
    Velmora::RestrictLibrarySearch();
    Velmora::CompanionLibraries companions;
    companions.Load();
    Velmora::Console::ConsoleOutput out;
    return Run(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc), out);
}

#include "app/assistant_app_win.h"

#include "app/companion_command.h"
#include "app/log_file_win.h"
#include "app/module_paths_win.h"
#include "app/program_start_win.h"
#include "app/settings_store_win.h"
#include "app/update_leftovers_win.h"
#include "common/process_win.h"
#include "net/http_agent_win.h"
#include "ui/assistant_commands_win.h"
#include "ui/async_call_queue_win.h"
#include "ui/bs_dialog_win.h"
#include "usb/device_watcher_win.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>

namespace Velmora {
namespace {

CAssistantApp* g_app = nullptr;
Mutex g_singleInstance;
std::atomic<bool> g_running{false};
std::atomic<bool> g_restart{false};
std::atomic<DWORD> g_uiThreadId{0};
std::atomic<UI::IBSDialog*> g_mainDialog{nullptr};

} // namespace

void EndMainLoop()
{
    const DWORD uiThread = g_uiThreadId.load();
    if (uiThread == 0 || uiThread == GetCurrentThreadId())
        PostQuitMessage(0);
    else
        PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
    g_running = false;
}

namespace {

// The USB device watcher reports key arrival and removal to the page. The page's key probe walks
// the bus: it runs after the device-change message has been answered, once for a burst of them.
void StartDeviceWatcher()
{
    const auto trace = [](WPARAM event, LPARAM data) {
        DebugTrace("USB设备插入或拔出 0x%X, 0x%X\n", static_cast<unsigned>(event),
                   static_cast<unsigned>(data));
        return 0;
    };
    const auto probeKeys = [] {
        // A change that arrives during start-up, before the page exists, is dropped.
        if (UI::IBSDialog* dialog = MainDialog())
            UI::CallPageFunction(*dialog, L"isAnyKeyConnect");
    };
    const bool watching = Usb::WatchDeviceChanges(trace) && Usb::WatchDeviceChangesDeferred(probeKeys);
    if (!watching)
        DebugTrace("USB device watcher window unavailable: device changes will not be reported\n");
}

} // namespace

CAssistantApp::CAssistantApp()
{
    g_app = this;
}

CAssistantApp::~CAssistantApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CAssistantApp* TheApp()
{
    return g_app;
}

UI::IBSDialog* MainDialog()
{
    return g_mainDialog;
}

bool CAssistantApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);

    ProgramStartOptions startOptions;
    startOptions.ole = true;
    const ProgramStart start(std::move(startOptions));
    if (start.Status() != S_OK) {
        exitCode_ = start.Status() == S_FALSE ? kExitSecondInstance : kExitStartFailed;
        return false;
    }
    RemoveUpdateLeftovers();
    StartDeviceWatcher();

    g_running = true;
    if (CreateMainDialog()) {
        RunMessageLoop();
        StopWorkersForExit(exitCode_);
        DestroyMainDialog();
    }
    g_running = false;
    Usb::CloseDeviceWatcher();

    HandOverToCompanion();
    return false;
}

bool CAssistantApp::CreateMainDialog()
{
    // Without its page the window would stay blank; the program then ends as if it were closed.
    if (FindResourceW(nullptr, MAKEINTRESOURCEW(UI::kMainPageResource), MAKEINTRESOURCEW(23) /* RT_HTML */) ==
        nullptr)
        return false;

    dispatcher_ = std::make_unique<UI::CommandDispatcher>(ProgramServices());

    const UI::BSDialogParams params = UI::MainDialogParams(dispatcher_->AsHandler());
    UI::IBSDialog* dialog = UI::CBSDialog::Create(params);
    if (dialog == nullptr)
        return false;
    g_mainDialog = dialog;
    UI::ConnectMainDialog(dialog);
    ShowWindow(dialog->GetWindowHandle(), SW_SHOWNORMAL);
    return true;
}

void CAssistantApp::DestroyMainDialog()
{
    UI::IBSDialog* dialog = g_mainDialog.exchange(nullptr);
    if (dialog != nullptr) {
        UI::ConnectMainDialog(nullptr);
        UI::CBSDialog::Destroy(dialog);
    }
    dispatcher_.reset();
}

void CAssistantApp::RunMessageLoop()
{
    MSG message;
    while (g_running) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            break;
        if (got == -1)
            continue;
        if (UI::CBSDialog::PreTranslate(&message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void ReleaseSingleInstance()
{
    g_singleInstance.Close();
}

HRESULT AcquireSingleInstance()
{
    g_uiThreadId = GetCurrentThreadId();
    const HRESULT outcome = g_singleInstance.Create(kSingleInstanceName, true);
    if (outcome == S_FALSE)
        g_singleInstance.Close();
    return outcome;
}

bool IsAppRunning()
{
    return g_running;
}
bool IsRestartRequested()
{
    return g_restart;
}

void QuitApplication()
{
    g_singleInstance.Close();
    EndMainLoop();
}

void RestartApplication()
{
    RestartApplication(ExecutablePath());
}

void RestartApplication(const std::wstring& executable)
{
    // Every restart, not only the page's, must keep the companion from starting at exit as well.
    g_restart = true;
    // Released first so that the new copy finds no other copy running.
    g_singleInstance.Close();
    ShellExecuteW(nullptr, L"open", executable.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    EndMainLoop();
}

void StopWorkersForExit(int exitCode)
{
    // Long enough for a download to notice it was stopped and its command to end.
    constexpr DWORD kWorkerExitTimeoutMs = 10000;
    Network::AbortTransfers();
    if (UI::StopWorkers(kWorkerExitTimeoutMs))
        return;
    ProgramLog().Write("exit: a command was still running; the program ends without waiting for it");
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
}

void HandOverToCompanion()
{
    if (ProgramSettings().ReadInt(kSettingsSection, kCloseTypeKey, 0) != kCloseTypeToTray || g_restart)
        return;
    RunCommandLine(CompanionCommandLine(ExecutablePath(), GetCurrentProcessId()), false, false, false);
}

} // namespace Velmora

#pragma once
// The application object and the program's lifecycle: start-up, single instance, message loop,
// quit, restart and the hand-over to the tray companion at exit.

#include "app/sync_object_win.h"
#include "ui/command_handler_win.h"
#include "ui/command_table.h"
#include "ui/ibs_dialog_win.h"

#include <windows.h>

#include <memory>
#include <string>

namespace Velmora {

inline constexpr wchar_t kSingleInstanceName[] = L"{DA79F43F-445A-49A1-ADD3-4FBC87CC68DE}";
inline constexpr wchar_t kCloseTypeKey[] = L"CloseType";
inline constexpr int kCloseTypeToTray = 1;

// How a run ended, as the process exit code.
enum AppExitCode : int {
    kExitNormal = 0,
    kExitSecondInstance = 1, // another copy runs: ended at once, silently
    kExitStartFailed = 2,    // the single-instance object could not be created
};

class CAssistantApp {
public:
    CAssistantApp();
    CAssistantApp(const CAssistantApp&) = delete;
    CAssistantApp& operator=(const CAssistantApp&) = delete;
    virtual ~CAssistantApp();

    // Runs the whole program on the calling (UI) thread and returns false: no caller-side loop
    // follows, the process ends when it returns. ExitCode() tells how it went.
    bool InitInstance();
    int ExitCode() const { return exitCode_; }

    const CommandTable& Commands() const { return commands_; }
    // The command handler of the main dialog (it holds the key-id table); none without a dialog.
    UI::CommandDispatcher* Dispatcher() const { return dispatcher_.get(); }

protected:
    // The main window, shown. Without one no message loop runs and the exit steps follow at once.
    virtual bool CreateMainDialog();
    virtual void DestroyMainDialog();

private:
    void RunMessageLoop();

    CommandTable commands_;
    std::unique_ptr<UI::CommandDispatcher> dispatcher_;
    int exitCode_ = kExitNormal;
};

// The one application object of the process, once constructed.
CAssistantApp* TheApp();

// The main dialog while it exists, for native code on any thread that calls into the page.
UI::IBSDialog* MainDialog();

// Creates the single-instance object (owned) and marks the calling thread as the UI thread.
// S_OK: this is the only copy; S_FALSE: another copy runs (the new handle is closed again);
// a failure status when it cannot be created.
HRESULT AcquireSingleInstance();
// Closes it: another copy may start.
void ReleaseSingleInstance();

bool IsAppRunning();
bool IsRestartRequested();

// All may be called from any thread; the quit message goes to the UI thread.
// Ends the message loop only; the single-instance object stays held.
void EndMainLoop();
void QuitApplication();
void RestartApplication();
// Restart with another executable in place of this one (the program itself passes its own path).
void RestartApplication(const std::wstring& executable);

// Before the program's objects are destroyed at exit: downloads in progress stop, queued commands
// are dropped and running ones are awaited (the calling UI thread serves their page calls). A
// command that does not end in time (an installer it waits for) must not outlive those objects:
// the log says so and the process ends at once with `exitCode`.
void StopWorkersForExit(int exitCode);

// Exit hand-over: with CloseType 1 and no restart pending, starts the tray companion beside the
// executable. Its outcome is not examined.
void HandOverToCompanion();

} // namespace Velmora

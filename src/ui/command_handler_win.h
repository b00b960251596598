#pragma once
// The command handler: one function that serves every command the page runs through `external`.
// What the commands need from the rest of the program comes in through CommandServices, so the
// handler can be driven headless.

#include "checks/check_config.h"
#include "checks/run_driver.h"
#include "ui/command_table.h"
#include "ui/ibs_dialog_win.h"
#include "ui/progress_filter.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Velmora::UI {

// Key flag to key id, both as the configuration writes them.
class KeyIdTable {
public:
    void Set(const std::wstring& flag, const std::wstring& keyId);
    // Empty when the flag is unknown.
    std::wstring Get(const std::wstring& flag) const;
    std::map<std::wstring, std::wstring> Snapshot() const;
    void Clear();

private:
    mutable std::mutex lock_;
    std::map<std::wstring, std::wstring> ids_;
};

// Where the engine's download progress goes: the component the page shows it for, and the report.
struct EngineProgress {
    std::function<void(std::int32_t index)> setInstallIndex;
    std::function<void(int percent, bool ok)> report;
};

struct CommandServices {
    // Settings of section "Settings". Absent values read as the default.
    std::function<int(const std::wstring& key, int defaultValue)> readInt;
    std::function<std::wstring(const std::wstring& key, const std::wstring& defaultValue)> readString;
    std::function<bool(const std::wstring& key, int value)> writeInt;
    std::function<bool(const std::wstring& key, const std::wstring& value)> writeString;

    std::function<void()> quitApplication;
    std::function<void()> postQuit; // the quit message for the UI thread's loop
    std::function<void()> restartApplication;
    // Starts the browser `program` for `url` as the desktop user (never with this process's
    // elevation), the URL one argument of its own.
    std::function<void(const std::wstring& program, const std::wstring& url)> openBrowser;
    std::function<std::wstring(const std::wstring& url)> httpPost;
    // The body of a GET of `url` (the notice file); a failure status when there is none.
    std::function<HRESULT(const std::wstring& url, std::string* body)> fetch;
    std::function<void(bool on)> setAutostart;
    std::function<void(const std::string& utf8Line)> appendLog;
    // Texts of get_version by name; none for a name it does not know.
    std::function<std::optional<std::wstring>(const std::wstring& which)> versionText;
    // Fills the model from `source`; a negative status is a failure.
    std::function<HRESULT(Assistant::CheckConfig& config, const std::wstring& source)> loadConfig;

    // do_check, do_fix and do_install: one check type or component, checked (checkOnly) or
    // repaired. No answer for a target the engine does not know.
    std::function<std::optional<std::string>(Assistant::CheckConfig& config,
                                             const Assistant::RunTarget& target, bool checkOnly,
                                             const EngineProgress& progress)>
        runRequest;
    // check_update: `interactive` when the user asked; dialogs owned by `owner`. True when the new
    // version was installed, and the program is to restart.
    std::function<bool(Assistant::CheckConfig& config, bool interactive, HWND owner,
                       const EngineProgress& progress)>
        checkUpdate;
    // The handler runs the engine's requests (ids 8, 9, 10, 16) one at a time under the request lock,
    // whatever thread they arrive on; without their service they answer empty.

    // The key commands (ids 7, 17, 23), on the thread they arrive on and outside the request lock.
    // None: they answer empty.
    std::function<void(IBSDialog* dialog, int id, const VARIANT& a1, const VARIANT& a2, VARIANT* result)>
        keyRequest;

    Assistant::CheckConfig* config = nullptr;  // the process's model
    std::vector<std::wstring> commandLineArgs; // without the program itself
    std::wstring title;                        // the product's display name
    std::wstring programFilesFolder;
    std::wstring defaultConfigUrl;
    // The document's location given on a developer's command line; empty for the program, which
    // takes the ConfigUrl setting when it is an https URL and the default otherwise.
    std::wstring configOverride;
};

inline constexpr wchar_t kConfigFailedMessage[] = L"获取配置失败，请检查您的网络。";
inline constexpr wchar_t kErrorInstruction[] = L"错误";

// The handler's state and work. Shared, so that a command still running on a worker keeps it alive
// after its owner has gone.
class CommandCore {
public:
    explicit CommandCore(CommandServices services);

    void Handle(IBSDialog* dialog, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                const VARIANT& a3, const VARIANT& a4, VARIANT* result);
    // Id of a command name: strings through the table, 32-bit integers as the id itself.
    static int CommandIdOf(const VARIANT& name);

    KeyIdTable& Keys() { return keys_; }

    // Progress of installs and repairs: setProgress(percent, current item, status) when it moved.
    void ReportProgress(IBSDialog* dialog, int percent, bool status);
    // Progress of the self-update download: setProgress(percent, -1, status) when it moved.
    void ReportUpdateProgress(IBSDialog* dialog, int percent, bool status);
    void SetCurrentItem(int index) { currentItem_ = index; }

private:
    std::wstring ConfigLocation() const;
    std::wstring Notices();
    void GetConfig(IBSDialog* dialog);
    void SaveSettings(const VARIANT& key, const VARIANT& value);
    void LoadSettings(const VARIANT& key, const VARIANT& defaultValue, VARIANT* result);
    void Delay(const VARIANT& ms);
    void CallJs(IBSDialog* dialog, const VARIANT& function, const VARIANT& a2, const VARIANT& a3,
                const VARIANT& a4);
    void Quit();
    void ShowError(const wchar_t* message);
    void RunEngineRequest(IBSDialog* dialog, const VARIANT& target, bool checkOnly, VARIANT* result);
    void CheckUpdate(IBSDialog* dialog, const VARIANT& interactive);
    void RunKeyRequest(IBSDialog* dialog, int id, const VARIANT& a1, const VARIANT& a2, VARIANT* result);
    void SendProgress(IBSDialog* dialog, int percent, int index, bool status);

    // What get_data answers from: taken from the model by get_config and swapped in whole, so that
    // the page's synchronous reads never wait for a worker that holds the request lock.
    struct PageData {
        std::map<std::string, std::string> values;
        std::string noticeFileUrl;
    };
    std::shared_ptr<const PageData> CurrentPageData();
    void PublishPageData(std::shared_ptr<const PageData> data);

    CommandServices services_;
    KeyIdTable keys_;
    std::mutex pageDataLock_; // held only to copy or swap the pointer
    std::shared_ptr<const PageData> pageData_ = std::make_shared<PageData>();
    std::mutex progressLock_;
    ProgressFilter progress_;
    ProgressFilter updateProgress_;
    std::atomic<int> currentItem_{0};
};

class CommandDispatcher {
public:
    explicit CommandDispatcher(CommandServices services)
        : core_(std::make_shared<CommandCore>(std::move(services)))
    {
    }

    void Handle(IBSDialog* dialog, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                const VARIANT& a3, const VARIANT& a4, VARIANT* result)
    {
        core_->Handle(dialog, name, a1, a2, a3, a4, result);
    }
    // A CommandHandler sharing this object's state.
    CommandHandler AsHandler();

    static int CommandIdOf(const VARIANT& name) { return CommandCore::CommandIdOf(name); }
    KeyIdTable& Keys() { return core_->Keys(); }
    void ReportProgress(IBSDialog* dialog, int percent, bool status)
    {
        core_->ReportProgress(dialog, percent, status);
    }
    void ReportUpdateProgress(IBSDialog* dialog, int percent, bool status)
    {
        core_->ReportUpdateProgress(dialog, percent, status);
    }
    void SetCurrentItem(int index) { core_->SetCurrentItem(index); }

private:
    std::shared_ptr<CommandCore> core_;
};

} // namespace Velmora::UI

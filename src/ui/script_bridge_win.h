#pragma once
// Native code calling into the page: ScriptSite performs the six page operations on the UI thread;
// ScriptBridge lets any thread ask for them and carries calls from other threads over with a blocking
// WM_USER+1, so a worker continues only after the page has answered.

#include "common/com_ptr_win.h"
#include "ui/ibs_dialog_win.h"

#include <windows.h>

#include <oaidl.h>

#include <atomic>
#include <memory>

namespace Velmora::UI {

inline constexpr UINT kMarshalledCallMessage = WM_USER + 1;
// Hands a page object's last reference from a worker back to the UI thread, whose objects they are.
inline constexpr UINT kReleaseObjectMessage = WM_APP + 1;

enum PageOperation : int {
    kOpCallScript = 1,
    kOpCallScriptCallback = 2,
    kOpSetScriptVariable = 3,
    kOpGetScriptVariable = 4,
    kOpExecScript = 5,
    kOpCreateScriptObject = 6,
};

// Holds the loaded page's script object (its global window). Until a page is held every operation
// answers E_POINTER.
class ScriptSite final : public PageOperations {
public:
    void SetScript(IDispatch* script) { script_ = ComPtr<IDispatch>(script); }
    bool HasScript() const { return static_cast<bool>(script_); }

    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result) override;
    HRESULT CallScriptCallback(IDispatch* function, VARIANT* args, UINT count);
    HRESULT SetScriptVariable(const wchar_t* name, const VARIANT& value) override;
    HRESULT GetScriptVariable(const wchar_t* name, VARIANT* result) override;
    HRESULT ExecScript(const wchar_t* script) override;
    HRESULT CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                               const ScriptObjectFiller& filler) override;

private:
    ComPtr<IDispatch> script_;
};

// One per dialog. Attach() binds the UI thread and the window that serves marshalled calls; the
// window procedure hands WM_USER+1 to OnMarshalledCall().
class ScriptBridge final : public PageOperations {
public:
    void Attach(HWND window, DWORD uiThreadId)
    {
        window_ = window;
        uiThread_ = uiThreadId;
    }
    // The window is going away: later calls from workers fail instead of reaching a dead window.
    void Detach() { window_ = nullptr; }
    ScriptSite& Site() { return site_; }

    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result) override;
    HRESULT CallScriptCallback(IDispatch* function, VARIANT* args, UINT count);
    HRESULT SetScriptVariable(const wchar_t* name, const VARIANT& value) override;
    HRESULT GetScriptVariable(const wchar_t* name, VARIANT* result) override;
    HRESULT ExecScript(const wchar_t* script) override;
    HRESULT CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                               const ScriptObjectFiller& filler) override;

    LRESULT OnMarshalledCall(WPARAM operation, LPARAM record);
    // Releases `object` on the UI thread (at once when called there).
    void ReleaseOnUiThread(IUnknown* object);
    LRESULT OnReleaseObject(LPARAM object);

    struct Record {
        const wchar_t* name = nullptr;
        IDispatch* function = nullptr;
        VARIANT* args = nullptr;
        UINT count = 0;
        VARIANT* result = nullptr;
        const VARIANT* value = nullptr;
        IDispatch** object = nullptr;
        const ScriptObjectFiller* filler = nullptr;
    };

private:
    HRESULT Perform(int operation, Record& record);
    HRESULT Run(int operation, Record& record);

    std::atomic<HWND> window_{nullptr};
    DWORD uiThread_ = 0;
    ScriptSite site_;
};

// The window's browser-content window ("Internet Explorer_Server" under "Shell DocObject View" under
// "Shell Embedding"), or none while those do not exist.
HWND FindBrowserWindow(HWND dialog);

// The dialog as worker threads see it: the window handle and the page operations through the
// bridge. Safe to use after the dialog is gone: page calls then fail.
class BridgedDialog final : public ForwardingDialog {
public:
    BridgedDialog(HWND window, std::shared_ptr<ScriptBridge> bridge)
        : window_(window), bridge_(std::move(bridge))
    {
    }
    HWND GetWindowHandle() override { return window_; }
    HWND GetBrowserWindow() override { return FindBrowserWindow(window_); }
    // Sizing belongs to the UI thread.
    HRESULT ResizeWindow(int, int) override { return E_NOTIMPL; }

protected:
    PageOperations& Page() override { return *bridge_; }

private:
    HWND window_;
    std::shared_ptr<ScriptBridge> bridge_;
};

} // namespace Velmora::UI

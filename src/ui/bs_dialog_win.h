#pragma once
// The program's one window: a borderless modeless dialog whose client area is the system's web
// browser control showing the page from the executable's resources. It hosts the control itself (OLE
// client and in-place site, UI handler, browser events, page events) and gives the page `external`.
// The container object is BrowserHost (browser_host_win.h); the dialog's members are spread by job over
// bs_dialog_win.cpp (life, messages, browser set-up), page_events_win.cpp (navigation, documents, DHTML
// events) and window_chrome_win.cpp (sizing and the chrome elements' actions).

#include "common/com_ptr_win.h"
#include "ui/ibs_dialog_win.h"
#include "ui/script_bridge_win.h"

#include <windows.h>

#include <exdisp.h>

#include <functional>
#include <memory>
#include <string>

namespace Velmora::UI {

class BrowserHost;

// Opens a URL outside the program (in Internet Explorer, as the desktop user).
using IeLauncher = std::function<void(const std::wstring& url)>;

class CBSDialog final : public ForwardingDialog {
public:
    // None when the record's size field is not 64 or the window cannot be created.
    static IBSDialog* Create(const BSDialogParams& params);
    static void Destroy(IBSDialog* dialog);
    // Dialogs whose windows exist; the quit message is posted when the last one goes.
    static size_t OpenCount();
    // For the message loop: lets the browser see its keys (Tab, Ctrl+C, ...) first.
    static bool PreTranslate(MSG* msg);
    // Where pages that leave the program are opened; none: they are only refused.
    static void SetIeLauncher(IeLauncher launcher);

    HWND GetWindowHandle() override { return window_; }
    HWND GetBrowserWindow() override;
    HRESULT ResizeWindow(int width, int height) override;
    HRESULT CallScriptCallback(IDispatch* function, VARIANT* args, UINT count);

    // The host object (client site, UI handler, event sink) and what it decided so far.
    IUnknown* HostObject();
    bool HasBrowser() const { return static_cast<bool>(browser_); }
    const std::wstring& CurrentUrl() const { return currentUrl_; }
    const std::wstring& StartUrl() const { return startUrl_; }
    int ContentWidth() const { return contentWidth_; }
    int ContentHeight() const { return contentHeight_; }

    CBSDialog(const CBSDialog&) = delete;
    CBSDialog& operator=(const CBSDialog&) = delete;
    ~CBSDialog() override;

protected:
    PageOperations& Page() override;

private:
    friend class BrowserHost;
    explicit CBSDialog(const BSDialogParams& params);

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
    void OnInitDialog();
    void OnDestroy();
    void CreateBrowser();
    void CloseBrowser();
    void AllowLowerIntegrityMessages();
    void Notify(const wchar_t* name, const VARIANT& a1, const VARIANT& a2 = VARIANT{});
    void Hook(UINT code, WPARAM wp, LPARAM lp);

    // Browser events, from the host object.
    bool OnBeforeNavigate(IDispatch* frame, const std::wstring& url);
    void OnNewWindow(const std::wstring& url);
    void OnDocumentComplete(IDispatch* frame, const std::wstring& url);
    bool OnPageEvent(const std::wstring& type, IDispatch* eventObject);
    bool IsMainFrame(IDispatch* frame) const;
    bool ExternalAllowed() const;
    void MeasureContent();
    void CentreOnScreen();
    void AttachPageEvents();
    void RunElementAction(int action, const std::wstring& id);

    BSDialogParams params_;
    HWND window_ = nullptr;
    DWORD uiThread_ = 0;
    std::shared_ptr<ScriptBridge> bridge_ = std::make_shared<ScriptBridge>();
    BrowserHost* host_ = nullptr; // one reference
    ComPtr<IOleObject> oleObject_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IDispatch> external_;
    DWORD eventCookie_ = 0;
    HWND browserWindow_ = nullptr;
    std::wstring ownPrefix_;
    std::wstring startUrl_;
    std::wstring currentUrl_;
    int contentWidth_ = 0;
    int contentHeight_ = 0;
    bool centred_ = false;
    UINT notifyMessage_ = 0;
};

} // namespace Velmora::UI

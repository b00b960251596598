#include "ui/bs_dialog_win.h"

#include "common/variant_win.h"
#include "ui/browser_host_win.h"
#include "ui/external_win.h"
#include "ui/host_rules.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace Velmora::UI {
namespace {

constexpr UINT kCefNotify = WM_USER + 2;
constexpr UINT kButtonNotify = WM_USER + 3;
constexpr UINT kCallMain = WM_USER + 4;
constexpr UINT kAssistantNotifyCode = 0x8001;

std::mutex g_listLock;
std::vector<CBSDialog*> g_dialogs;

ScopedVariant IntArg(int v)
{
    return ScopedVariant::Int(v);
}

std::wstring ModulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

CBSDialog::CBSDialog(const BSDialogParams& params) : params_(params)
{
    host_ = new BrowserHost(this);
}

CBSDialog::~CBSDialog()
{
    if (window_)
        ::DestroyWindow(window_);
    CloseBrowser();
    if (host_) {
        host_->Detach();
        host_->Release();
    }
}

IBSDialog* CBSDialog::Create(const BSDialogParams& params)
{
    if (params.size != kBSDialogParamsSize)
        return nullptr;
    auto* dialog = new CBSDialog(params);

    // In-memory template: the header and three empty words (no menu, default class, no title).
    struct {
        DLGTEMPLATE head;
        WORD menu, windowClass, title;
    } tpl = {};
    tpl.head.style = DialogStyle(params.framed != FALSE, params.autoSize);
    tpl.head.dwExtendedStyle = kDialogExStyle;
    tpl.head.cdit = 0;
    tpl.head.x = 0;
    tpl.head.y = 0;
    tpl.head.cx = static_cast<short>(std::clamp(params.maxWidth, 0, 0x7FFF));
    tpl.head.cy = static_cast<short>(std::clamp(params.maxHeight, 0, 0x7FFF));

    HINSTANCE instance = params.resourceModule ? params.resourceModule : ::GetModuleHandleW(nullptr);
    HWND window = ::CreateDialogIndirectParamW(instance, &tpl.head, params.parent, &CBSDialog::DialogProc,
                                               reinterpret_cast<LPARAM>(dialog));
    if (!window) {
        delete dialog;
        return nullptr;
    }
    // The template counts in dialog units; the limits are meant as pixels.
    if (params.maxWidth > 0 && params.maxHeight > 0)
        ::SetWindowPos(window, nullptr, 0, 0, params.maxWidth, params.maxHeight,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowTextW(window, params.title.c_str());
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        g_dialogs.push_back(dialog);
    }
    return dialog;
}

void CBSDialog::Destroy(IBSDialog* dialog)
{
    auto* d = static_cast<CBSDialog*>(dialog);
    if (!d)
        return;
    if (d->window_)
        ::DestroyWindow(d->window_);
    delete d;
}

size_t CBSDialog::OpenCount()
{
    std::lock_guard<std::mutex> guard(g_listLock);
    return g_dialogs.size();
}

bool CBSDialog::PreTranslate(MSG* msg)
{
    if (!msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST)
        return false;
    ComPtr<IOleInPlaceActiveObject> active;
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        for (CBSDialog* d : g_dialogs) {
            if (d->window_ && d->host_ && d->host_->active_ && ::IsChild(d->window_, msg->hwnd)) {
                active = d->host_->active_;
                break;
            }
        }
    }
    // Outside the lock: the key may run page script, which may do anything.
    return active && active->TranslateAccelerator(msg) == S_OK;
}

IUnknown* CBSDialog::HostObject()
{
    return static_cast<IOleClientSite*>(host_);
}

INT_PTR CALLBACK CBSDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    CBSDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CBSDialog*>(lp);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        self->window_ = hwnd;
        self->OnInitDialog();
        return TRUE;
    }
    self = reinterpret_cast<CBSDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    LRESULT result = 0;
    if (!self->OnMessage(msg, wp, lp, &result))
        return FALSE;
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

void CBSDialog::OnInitDialog()
{
    uiThread_ = ::GetCurrentThreadId();
    bridge_->Attach(window_, uiThread_);
    notifyMessage_ = ::RegisterWindowMessageW(L"AssistantNotify");

    HMODULE module = params_.resourceModule ? params_.resourceModule : ::GetModuleHandleW(nullptr);
    const std::wstring modulePath = ModulePath(module);
    ownPrefix_ = OwnResourcePrefix(modulePath);
    if (!params_.pageUrl.empty())
        startUrl_ = params_.pageUrl;
    else if (params_.pageResourceId != 0)
        startUrl_ = ownPrefix_ + std::to_wstring(params_.pageResourceId);
    else if (!params_.pageResourceName.empty())
        startUrl_ = ownPrefix_ + params_.pageResourceName;

    ExternalTarget target;
    target.dialog = this;
    target.handler = params_.commandHandler;
    target.bridge = bridge_;
    target.workerDialog = std::make_shared<BridgedDialog>(window_, bridge_);
    target.allowed = [this] { return ExternalAllowed(); };
    CreateExternal(std::move(target), external_.Receive());

    CreateBrowser();

    if (params_.icon) {
        ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(params_.icon));
        ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(params_.icon));
    }
    AllowLowerIntegrityMessages();
}

void CBSDialog::CreateBrowser()
{
    if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  oleObject_.ReceiveVoid())) ||
        !oleObject_) {
        ::OutputDebugStringW(L"web browser control unavailable\n");
        return;
    }
    oleObject_->SetClientSite(static_cast<IOleClientSite*>(host_));
    RECT rc;
    ::GetClientRect(window_, &rc);
    oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(host_), 0, window_,
                       &rc);
    if (FAILED(oleObject_.As(browser_)) || !browser_) {
        CloseBrowser();
        return;
    }
    browser_->put_Silent(VARIANT_TRUE);
    browser_->put_RegisterAsDropTarget(VARIANT_FALSE);
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(browser_.As(container)) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive())) && point)
        point->Advise(static_cast<IDispatch*>(host_), &eventCookie_);
    if (!startUrl_.empty()) {
        ScopedVariant url = ScopedVariant::String(startUrl_), empty;
        browser_->Navigate2(url.Ptr(), empty.Ptr(), empty.Ptr(), empty.Ptr(), empty.Ptr());
    }
}

void CBSDialog::CloseBrowser()
{
    if (browser_ && eventCookie_) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(browser_.As(container)) &&
            SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Receive())) && point)
            point->Unadvise(eventCookie_);
        eventCookie_ = 0;
    }
    bridge_->Site().SetScript(nullptr);
    browser_.Reset();
    if (oleObject_) {
        oleObject_->Close(OLECLOSE_NOSAVE);
        oleObject_->SetClientSite(nullptr);
        oleObject_.Reset();
    }
    if (host_)
        host_->active_.Reset();
}

void CBSDialog::AllowLowerIntegrityMessages()
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (!user32)
        return;
    using PerWindow = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    using PerProcess = BOOL(WINAPI*)(UINT, DWORD);
    constexpr DWORD kAllow = 1; // MSGFLT_ALLOW and MSGFLT_ADD
    auto perWindow = reinterpret_cast<PerWindow>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    auto perProcess = reinterpret_cast<PerProcess>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")));
    for (UINT msg : {notifyMessage_, static_cast<UINT>(WM_COPYDATA)}) {
        if (perWindow)
            perWindow(window_, msg, kAllow, nullptr);
        else if (perProcess)
            perProcess(msg, kAllow);
    }
}

void CBSDialog::Notify(const wchar_t* name, const VARIANT& a1, const VARIANT& a2)
{
    if (!params_.commandHandler)
        return;
    ScopedVariant n = ScopedVariant::String(name), empty, result;
    params_.commandHandler(this, n.Get(), a1, a2, empty.Get(), empty.Get(), result.Ptr());
}

void CBSDialog::Hook(UINT code, WPARAM wp, LPARAM lp)
{
    if (params_.messageHook)
        params_.messageHook(this, code, wp, lp);
}

bool CBSDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result)
{
    if (msg == notifyMessage_ && notifyMessage_ != 0) {
        Hook(kAssistantNotifyCode, wp, lp);
        return true;
    }
    switch (msg) {
    case kMarshalledCallMessage:
        *result = bridge_->OnMarshalledCall(wp, lp);
        return true;
    case kReleaseObjectMessage:
        *result = bridge_->OnReleaseObject(lp);
        return true;
    case kCefNotify:
        Notify(L"cef_notify", IntArg(static_cast<int>(wp)).Get());
        return true;
    case kButtonNotify:
        Notify(L"button_notify", IntArg(static_cast<int>(wp)).Get());
        return true;
    case kCallMain:
        ::OutputDebugStringW(L"oncallmain\n");
        Notify(L"call_main", IntArg(static_cast<int>(wp)).Get(), IntArg(static_cast<int>(lp)).Get());
        return true;
    case WM_CLOSE: {
        ScopedVariant empty;
        Notify(L"quit", empty.Get());
        ::DestroyWindow(window_);
        Hook(WM_CLOSE, wp, lp);
        // The window is gone: nothing is left for the default handling to do.
        return true;
    }
    case WM_COMMAND:
        // Enter and Escape arrive here as OK and Cancel and end nothing.
        Hook(WM_COMMAND, 0, static_cast<LPARAM>(LOWORD(wp)));
        return true;
    case WM_COPYDATA:
        Hook(WM_COPYDATA, wp, lp);
        *result = TRUE;
        return true;
    case WM_MOVE: {
        ScopedVariant id = ScopedVariant::String(L"ui_wmmove");
        Notify(L"ui_notify", id.Get());
        return false;
    }
    case WM_TIMER:
        ::KillTimer(window_, wp);
        return true;
    case WM_SIZE:
        if (oleObject_) {
            ComPtr<IOleInPlaceObject> inPlace;
            if (SUCCEEDED(oleObject_.As(inPlace))) {
                RECT rc;
                ::GetClientRect(window_, &rc);
                inPlace->SetObjectRects(&rc, &rc);
            }
        }
        return false;
    case WM_DESTROY:
        OnDestroy();
        return false;
    default:
        return false;
    }
}

void CBSDialog::OnDestroy()
{
    bridge_->Detach();
    CloseBrowser();
    external_.Reset();
    window_ = nullptr;
    bool empty = false;
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        auto it = std::find(g_dialogs.begin(), g_dialogs.end(), this);
        if (it != g_dialogs.end()) {
            g_dialogs.erase(it);
            empty = g_dialogs.empty();
        }
    }
    if (empty)
        ::PostQuitMessage(0);
}

HWND CBSDialog::GetBrowserWindow()
{
    if (browserWindow_ && ::IsWindow(browserWindow_))
        return browserWindow_;
    browserWindow_ = FindBrowserWindow(window_);
    return browserWindow_;
}

PageOperations& CBSDialog::Page()
{
    return *bridge_;
}

HRESULT CBSDialog::CallScriptCallback(IDispatch* function, VARIANT* args, UINT count)
{
    return bridge_->CallScriptCallback(function, args, count);
}

} // namespace Velmora::UI

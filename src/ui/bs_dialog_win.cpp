#include "ui/bs_dialog_win.h"

#include "ui/com_class_win.h"
#include "ui/external_win.h"
#include "ui/host_rules.h"
#include "ui/variant_win.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <oleidl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace Velmora::UI {
namespace {

constexpr UINT kCefNotify = WM_USER + 2;
constexpr UINT kButtonNotify = WM_USER + 3;
constexpr UINT kCallMain = WM_USER + 4;
constexpr UINT kAssistantNotifyCode = 0x8001;
constexpr DWORD kHostFlagsAdded = 0x40001; // dialog + theme
constexpr LONG kDownloadControl = 112;     // images, videos, background sounds
constexpr DISPID kAmbientDownloadControl = -5512;

std::mutex g_listLock;
std::vector<CBSDialog*> g_dialogs;
IeLauncher g_ieLauncher;

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

// A string property of an element, empty when there is no element or no value.
std::wstring ElementText(IHTMLElement* element, HRESULT (STDMETHODCALLTYPE IHTMLElement::*get)(BSTR*))
{
    BSTR value = nullptr;
    std::wstring out;
    if (element && SUCCEEDED((element->*get)(&value)) && value)
        out = value;
    ::SysFreeString(value);
    return out;
}

std::wstring ElementId(IHTMLElement* element)
{
    return ElementText(element, &IHTMLElement::get_id);
}

std::wstring TagName(IHTMLElement* element)
{
    return ElementText(element, &IHTMLElement::get_tagName);
}

} // namespace

VELMORA_COM_CLASSES_BEGIN

// One object answers the browser on every interface it asks a container for.
class BrowserHost final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDispatch {
public:
    explicit BrowserHost(CBSDialog* dialog) : dialog_(dialog) {}
    void Detach() { dialog_ = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IDocHostUIHandler)
            *out = static_cast<IDocHostUIHandler*>(this);
        else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override
    {
        if (mk)
            *mk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the in-place site and frame)
    STDMETHODIMP GetWindow(HWND* window) override
    {
        if (!window)
            return E_POINTER;
        *window = dialog_ ? dialog_->window_ : nullptr;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        if (!frame || !doc || !pos || !clip || !info)
            return E_POINTER;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        HWND w = dialog_ ? dialog_->window_ : nullptr;
        ::GetClientRect(w, pos);
        *clip = *pos;
        info->fMDIApp = FALSE;
        info->hwndFrame = w;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame: the dialog has no toolbars, menus or status line.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override
    {
        active_ = ComPtr<IOleInPlaceActiveObject>(object);
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD kind, POINT*, IUnknown*, IDispatch*) override
    {
        // S_FALSE lets the browser show its own menu; S_OK means handled, i.e. no menu.
        return ShowBrowserMenu(kind) ? S_FALSE : S_OK;
    }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override
    {
        if (!info)
            return E_POINTER;
        info->dwFlags |= kHostFlagsAdded;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override
    {
        return S_OK;
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override
    {
        if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
            return S_FALSE;
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        const bool alt = ::GetKeyState(VK_MENU) < 0 || msg->message == WM_SYSKEYDOWN;
        // S_OK: handled here, the browser never sees the key.
        return SwallowKey(static_cast<unsigned>(msg->wParam), ctrl, alt) ? S_OK : S_FALSE;
    }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override
    {
        if (key)
            *key = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!dialog_ || !dialog_->external_)
            return E_NOTIMPL;
        *out = dialog_->external_.Get();
        (*out)->AddRef();
        return S_OK;
    }
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override
    {
        if (out)
            *out = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override
    {
        if (out)
            *out = nullptr;
        return S_FALSE;
    }

    // IDispatch: ambient properties of the site and the browser's events.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        try {
            return Dispatch(id, params, result);
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    ~BrowserHost() = default;

    static std::wstring StringArg(const DISPPARAMS* p, UINT index)
    {
        if (!p || index >= p->cArgs)
            return {};
        ScopedVariant v(p->rgvarg[index]);
        return IsString(v.Get()) ? std::wstring(StringOf(v.Get())) : std::wstring();
    }
    static IDispatch* DispatchArg(const DISPPARAMS* p, UINT index)
    {
        if (!p || index >= p->cArgs)
            return nullptr;
        const VARIANT& v = p->rgvarg[index];
        if (v.vt == VT_DISPATCH)
            return v.pdispVal;
        if (v.vt == (VT_DISPATCH | VT_BYREF) && v.ppdispVal)
            return *v.ppdispVal;
        return nullptr;
    }
    static void SetCancel(const DISPPARAMS* p, UINT index)
    {
        if (p && index < p->cArgs && p->rgvarg[index].vt == (VT_BOOL | VT_BYREF) && p->rgvarg[index].pboolVal)
            *p->rgvarg[index].pboolVal = VARIANT_TRUE;
    }

    HRESULT Dispatch(DISPID id, DISPPARAMS* p, VARIANT* result)
    {
        switch (id) {
        case kAmbientDownloadControl:
            if (!result)
                return E_POINTER;
            result->vt = VT_I4;
            result->lVal = kDownloadControl;
            return S_OK;
        case DISPID_BEFORENAVIGATE2: // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel
            if (p && p->cArgs >= 7 && dialog_ &&
                !dialog_->OnBeforeNavigate(DispatchArg(p, 6), StringArg(p, 5)))
                SetCancel(p, 0);
            return S_OK;
        case DISPID_NEWWINDOW2: // ppDisp, Cancel
            if (p && p->cArgs >= 2)
                SetCancel(p, 0);
            return S_OK;
        case DISPID_NEWWINDOW3: // ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl
            if (p && p->cArgs >= 5) {
                SetCancel(p, 3);
                if (dialog_)
                    dialog_->OnNewWindow(StringArg(p, 0));
            }
            return S_OK;
        case DISPID_DOCUMENTCOMPLETE: // pDisp, URL
            if (p && p->cArgs >= 2 && dialog_)
                dialog_->OnDocumentComplete(DispatchArg(p, 1), StringArg(p, 0));
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

    std::atomic<ULONG> refs_{1};
    CBSDialog* dialog_;
    ComPtr<IOleInPlaceActiveObject> active_;

    friend class Velmora::UI::CBSDialog;
};

// Handler object for one kind of page event (attachEvent calls it with the event object).
class PageEventHandler final : public DispatchObject {
public:
    using Fn = std::function<bool(IDispatch* eventObject)>;
    explicit PageEventHandler(Fn fn) : fn_(std::move(fn)) {}

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        IDispatch* event = nullptr;
        if (params && params->cArgs > 0 && params->rgvarg[params->cArgs - 1].vt == VT_DISPATCH)
            event = params->rgvarg[params->cArgs - 1].pdispVal;
        bool allow = true;
        try {
            allow = fn_(event);
        } catch (...) {
        }
        if (!allow && result) {
            // A false answer cancels the default action (dragging a link out of the page).
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_FALSE;
        }
        return allow ? S_OK : S_FALSE;
    }

private:
    ~PageEventHandler() override = default;
    Fn fn_;
};

VELMORA_COM_CLASSES_END

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

void CBSDialog::SetIeLauncher(IeLauncher launcher)
{
    g_ieLauncher = std::move(launcher);
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

HRESULT CBSDialog::ResizeWindow(int width, int height)
{
    if (width <= 0)
        width = contentWidth_;
    if (height <= 0)
        height = contentHeight_;
    if (width <= 0 || height <= 0)
        return E_FAIL; // no content size measured: the size is left alone
    if (params_.maxWidth > 0)
        width = std::min(width, params_.maxWidth);
    if (params_.maxHeight > 0)
        height = std::min(height, params_.maxHeight);
    if (!::SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        return HRESULT_FROM_WIN32(::GetLastError());
    return S_OK;
}

HRESULT CBSDialog::CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result)
{
    return bridge_->CallScript(function, args, count, result);
}
HRESULT CBSDialog::SetScriptVariable(const wchar_t* name, const VARIANT& value)
{
    return bridge_->SetScriptVariable(name, value);
}
HRESULT CBSDialog::GetScriptVariable(const wchar_t* name, VARIANT* result)
{
    return bridge_->GetScriptVariable(name, result);
}
HRESULT CBSDialog::ExecScript(const wchar_t* script)
{
    return bridge_->ExecScript(script);
}
HRESULT CBSDialog::CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                                      const ScriptObjectFiller& filler)
{
    return bridge_->CreateScriptObject(constructor, object, filler);
}
HRESULT CBSDialog::CallScriptCallback(IDispatch* function, VARIANT* args, UINT count)
{
    return bridge_->CallScriptCallback(function, args, count);
}

bool CBSDialog::IsMainFrame(IDispatch* frame) const
{
    if (!frame || !browser_)
        return true; // no frame object to tell: treat as the main frame (the stricter rule)
    ComPtr<IUnknown> a, b;
    frame->QueryInterface(IID_IUnknown, a.ReceiveVoid());
    browser_->QueryInterface(IID_IUnknown, b.ReceiveVoid());
    return a.Get() == b.Get();
}

bool CBSDialog::ExternalAllowed() const
{
    if (!browser_)
        return false;
    BSTR location = nullptr;
    bool own = false;
    if (SUCCEEDED(browser_->get_LocationURL(&location)) && location)
        own = IsOwnPage(location, ownPrefix_);
    ::SysFreeString(location);
    return own;
}

bool CBSDialog::OnBeforeNavigate(IDispatch* frame, const std::wstring& url)
{
    switch (DecideNavigation(url, currentUrl_, ownPrefix_, IsMainFrame(frame))) {
    case Navigation::Allow:
        return true;
    case Navigation::OpenInIe:
        OnNewWindow(url);
        return false;
    case Navigation::Cancel:
    default:
        return false;
    }
}

void CBSDialog::OnNewWindow(const std::wstring& url)
{
    if (!url.empty() && g_ieLauncher)
        g_ieLauncher(url);
}

void CBSDialog::OnDocumentComplete(IDispatch* frame, const std::wstring& url)
{
    if (!IsMainFrame(frame))
        return;
    MeasureContent();
    if (params_.autoSize == 1)
        ResizeWindow(0, 0);
    if (!centred_) {
        centred_ = true;
        CentreOnScreen();
    }
    // Each document of the program's own pages gets the bridge; another document gets none.
    ComPtr<IDispatch> script;
    if (browser_ && IsOwnPage(url, ownPrefix_)) {
        ComPtr<IDispatch> documentDispatch;
        ComPtr<IHTMLDocument2> document;
        if (SUCCEEDED(browser_->get_Document(documentDispatch.Receive())) && documentDispatch &&
            SUCCEEDED(documentDispatch.As(document)))
            document->get_Script(script.Receive());
    }
    bridge_->Site().SetScript(script.Get());
    if (script)
        AttachPageEvents();
    currentUrl_ = NormalizeUrl(url);
}

void CBSDialog::MeasureContent()
{
    contentWidth_ = contentHeight_ = 0;
    if (!browser_)
        return;
    ComPtr<IDispatch> documentDispatch;
    ComPtr<IHTMLDocument2> document;
    ComPtr<IHTMLElement> body;
    ComPtr<IHTMLElement2> body2;
    long width = 0, height = 0;
    if (SUCCEEDED(browser_->get_Document(documentDispatch.Receive())) && documentDispatch &&
        SUCCEEDED(documentDispatch.As(document)) && SUCCEEDED(document->get_body(body.Receive())) && body &&
        SUCCEEDED(body.As(body2)) && SUCCEEDED(body2->get_scrollWidth(&width)) &&
        SUCCEEDED(body2->get_scrollHeight(&height))) {
        contentWidth_ = static_cast<int>(width);
        contentHeight_ = static_cast<int>(height);
    }
}

void CBSDialog::CentreOnScreen()
{
    RECT rc;
    if (!::GetWindowRect(window_, &rc))
        return;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CBSDialog::AttachPageEvents()
{
    ComPtr<IDispatch> documentDispatch;
    ComPtr<IHTMLDocument3> document;
    if (!browser_ || FAILED(browser_->get_Document(documentDispatch.Receive())) || !documentDispatch ||
        FAILED(documentDispatch.As(document)))
        return;
    for (const wchar_t* type : {L"onclick", L"onmousedown", L"ondragstart"}) {
        const std::wstring name = type;
        auto* handler = new PageEventHandler([this, name](IDispatch* e) { return OnPageEvent(name, e); });
        BSTR event = ::SysAllocString(type);
        VARIANT_BOOL attached = VARIANT_FALSE;
        document->attachEvent(event, handler, &attached);
        ::SysFreeString(event);
        handler->Release();
    }
    // The body's resize re-fits an auto-sized window to the content.
    ComPtr<IHTMLDocument2> document2;
    ComPtr<IHTMLElement> body;
    ComPtr<IHTMLElement2> body2;
    if (SUCCEEDED(documentDispatch.As(document2)) && SUCCEEDED(document2->get_body(body.Receive())) && body &&
        SUCCEEDED(body.As(body2))) {
        auto* handler = new PageEventHandler([this](IDispatch* e) { return OnPageEvent(L"onresize", e); });
        BSTR event = ::SysAllocString(L"onresize");
        VARIANT_BOOL attached = VARIANT_FALSE;
        body2->attachEvent(event, handler, &attached);
        ::SysFreeString(event);
        handler->Release();
    }
}

bool CBSDialog::OnPageEvent(const std::wstring& type, IDispatch* eventObject)
{
    if (type == L"onresize") {
        if (params_.autoSize == 1) {
            MeasureContent();
            ResizeWindow(0, 0);
        }
        return true;
    }
    ComPtr<IHTMLEventObj> event;
    if (!eventObject || FAILED(eventObject->QueryInterface(IID_IHTMLEventObj, event.ReceiveVoid())) || !event)
        return true;
    ComPtr<IHTMLElement> element;
    event->get_srcElement(element.Receive());
    std::vector<std::wstring> ids;
    bool insideLink = false;
    while (element) {
        ids.push_back(ElementId(element.Get()));
        if (_wcsicmp(TagName(element.Get()).c_str(), L"A") == 0)
            insideLink = true;
        ComPtr<IHTMLElement> parent;
        element->get_parentElement(parent.Receive());
        element = parent;
    }
    if (type == L"ondragstart")
        return !insideLink; // links cannot be dragged out of the page
    const ElementEvent decided = DecideElementEvent(type == L"onclick", ids);
    if (decided.action == ElementAction::None)
        return true;
    RunElementAction(static_cast<int>(decided.action), decided.elementId);
    if (type == L"onclick") {
        ScopedVariant id = ScopedVariant::String(decided.elementId);
        Notify(L"ui_notify", id.Get());
    }
    return true;
}

void CBSDialog::RunElementAction(int action, const std::wstring&)
{
    const bool captioned = params_.framed != FALSE;
    switch (static_cast<ElementAction>(action)) {
    case ElementAction::MoveWindow: {
        POINT pt;
        ::GetCursorPos(&pt);
        ::PostMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
        break;
    }
    case ElementAction::Quit:
        ::PostQuitMessage(0);
        break;
    case ElementAction::Maximize:
        if (captioned) {
            ::ShowWindow(window_, SW_MAXIMIZE);
        } else {
            RECT work = {};
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            ::SetWindowPos(window_, nullptr, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), work.bottom,
                           SWP_NOZORDER);
        }
        break;
    case ElementAction::Restore:
        if (captioned) {
            ::ShowWindow(window_, SW_RESTORE);
        } else if (contentWidth_ > 0 && contentHeight_ > 0) {
            const int x = (::GetSystemMetrics(SM_CXSCREEN) - contentWidth_) / 2;
            const int y = (::GetSystemMetrics(SM_CYSCREEN) - contentHeight_) / 2;
            ::SetWindowPos(window_, nullptr, x, y, contentWidth_, contentHeight_, SWP_NOZORDER);
        }
        break;
    case ElementAction::Minimize:
        ::ShowWindow(window_, SW_MINIMIZE);
        break;
    case ElementAction::Menu: {
        HMENU menu = params_.menuProvider ? params_.menuProvider(this) : params_.menu;
        if (menu) {
            POINT pt;
            ::GetCursorPos(&pt);
            ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, pt.x, pt.y, 0, window_, nullptr);
        }
        break;
    }
    case ElementAction::Close: // Cancel does nothing in this window
    case ElementAction::None:
    default:
        break;
    }
}

} // namespace Velmora::UI

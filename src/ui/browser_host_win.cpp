#include "ui/browser_host_win.h"

#include "common/variant_win.h"
#include "ui/bs_dialog_win.h"
#include "ui/host_rules.h"

#include <exdisp.h>
#include <exdispid.h>

#include <string>

namespace Velmora::UI {
namespace {

constexpr DWORD kHostFlagsAdded = 0x40001; // dialog + theme
constexpr LONG kDownloadControl = 112;     // images, videos, background sounds
constexpr DISPID kAmbientDownloadControl = -5512;

std::wstring StringArg(const DISPPARAMS* p, UINT index)
{
    if (!p || index >= p->cArgs)
        return {};
    ScopedVariant v(p->rgvarg[index]);
    return IsString(v.Get()) ? std::wstring(StringOf(v.Get())) : std::wstring();
}

IDispatch* DispatchArg(const DISPPARAMS* p, UINT index)
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

void SetCancel(const DISPPARAMS* p, UINT index)
{
    if (p && index < p->cArgs && p->rgvarg[index].vt == (VT_BOOL | VT_BYREF) && p->rgvarg[index].pboolVal)
        *p->rgvarg[index].pboolVal = VARIANT_TRUE;
}

} // namespace

STDMETHODIMP BrowserHost::QueryInterface(REFIID riid, void** out)
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

STDMETHODIMP_(ULONG) BrowserHost::Release()
{
    const ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

// IOleClientSite

STDMETHODIMP BrowserHost::GetMoniker(DWORD, DWORD, IMoniker** mk)
{
    if (mk)
        *mk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::GetContainer(IOleContainer** container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

// IOleWindow

STDMETHODIMP BrowserHost::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = dialog_ ? dialog_->window_ : nullptr;
    return *window ? S_OK : E_FAIL;
}

// IOleInPlaceSite

STDMETHODIMP BrowserHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                           LPRECT clip, LPOLEINPLACEFRAMEINFO info)
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

// IOleInPlaceFrame

STDMETHODIMP BrowserHost::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR)
{
    active_ = ComPtr<IOleInPlaceActiveObject>(object);
    return S_OK;
}

// IDocHostUIHandler

STDMETHODIMP BrowserHost::ShowContextMenu(DWORD kind, POINT*, IUnknown*, IDispatch*)
{
    // S_FALSE lets the browser show its own menu; S_OK means handled, i.e. no menu.
    return ShowBrowserMenu(kind) ? S_FALSE : S_OK;
}

STDMETHODIMP BrowserHost::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info)
        return E_POINTER;
    info->dwFlags |= kHostFlagsAdded;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

STDMETHODIMP BrowserHost::TranslateAccelerator(LPMSG msg, const GUID*, DWORD)
{
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return S_FALSE;
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    const bool alt = ::GetKeyState(VK_MENU) < 0 || msg->message == WM_SYSKEYDOWN;
    // S_OK: handled here, the browser never sees the key.
    return SwallowKey(static_cast<unsigned>(msg->wParam), ctrl, alt) ? S_OK : S_FALSE;
}

STDMETHODIMP BrowserHost::GetOptionKeyPath(LPOLESTR* key, DWORD)
{
    if (key)
        *key = nullptr;
    return S_FALSE;
}

STDMETHODIMP BrowserHost::GetDropTarget(IDropTarget*, IDropTarget** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::GetExternal(IDispatch** out)
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

STDMETHODIMP BrowserHost::TranslateUrl(DWORD, LPWSTR, LPWSTR* out)
{
    if (out)
        *out = nullptr;
    return S_FALSE;
}

STDMETHODIMP BrowserHost::FilterDataObject(IDataObject*, IDataObject** out)
{
    if (out)
        *out = nullptr;
    return S_FALSE;
}

// IDispatch

STDMETHODIMP BrowserHost::GetTypeInfoCount(UINT* count)
{
    if (count)
        *count = 0;
    return S_OK;
}

STDMETHODIMP BrowserHost::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*)
{
    try {
        return Dispatch(id, params, result);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT BrowserHost::Dispatch(DISPID id, DISPPARAMS* p, VARIANT* result)
{
    switch (id) {
    case kAmbientDownloadControl:
        if (!result)
            return E_POINTER;
        result->vt = VT_I4;
        result->lVal = kDownloadControl;
        return S_OK;
    case DISPID_BEFORENAVIGATE2: // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel
        if (p && p->cArgs >= 7 && dialog_ && !dialog_->OnBeforeNavigate(DispatchArg(p, 6), StringArg(p, 5)))
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

} // namespace Velmora::UI

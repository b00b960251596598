// The dialog's part in the browser's navigation and document events and in the page's DHTML events:
// which navigations stay in the window, what a loaded document gets, and which chrome element a mouse
// event is meant for.
#include "ui/bs_dialog_win.h"

#include "common/variant_win.h"
#include "ui/com_class_win.h"
#include "ui/host_rules.h"

#include <mshtml.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Velmora::UI {
namespace {

IeLauncher g_ieLauncher;

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

enum class PageNode { Document, Body };

// The browser's document or its body element as interface T; none while no document is loaded, before
// the body exists, or when the object does not offer T.
template <typename T> ComPtr<T> PageObject(IWebBrowser2* browser, PageNode node)
{
    ComPtr<T> out;
    ComPtr<IDispatch> document;
    if (!browser || FAILED(browser->get_Document(document.Receive())) || !document)
        return out;
    if (node == PageNode::Document) {
        if (FAILED(document.As(out)))
            out.Reset();
        return out;
    }
    ComPtr<IHTMLDocument2> html;
    ComPtr<IHTMLElement> body;
    if (SUCCEEDED(document.As(html)) && SUCCEEDED(html->get_body(body.Receive())) && body &&
        FAILED(body.As(out)))
        out.Reset();
    return out;
}

} // namespace

VELMORA_COM_CLASSES_BEGIN

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

void CBSDialog::SetIeLauncher(IeLauncher launcher)
{
    g_ieLauncher = std::move(launcher);
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
    if (IsOwnPage(url, ownPrefix_)) {
        if (auto document = PageObject<IHTMLDocument2>(browser_.Get(), PageNode::Document))
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
    const auto body = PageObject<IHTMLElement2>(browser_.Get(), PageNode::Body);
    long width = 0, height = 0;
    if (body && SUCCEEDED(body->get_scrollWidth(&width)) && SUCCEEDED(body->get_scrollHeight(&height))) {
        contentWidth_ = static_cast<int>(width);
        contentHeight_ = static_cast<int>(height);
    }
}

void CBSDialog::AttachPageEvents()
{
    const auto document = PageObject<IHTMLDocument3>(browser_.Get(), PageNode::Document);
    if (!document)
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
    if (const auto body = PageObject<IHTMLElement2>(browser_.Get(), PageNode::Body)) {
        auto* handler = new PageEventHandler([this](IDispatch* e) { return OnPageEvent(L"onresize", e); });
        BSTR event = ::SysAllocString(L"onresize");
        VARIANT_BOOL attached = VARIANT_FALSE;
        body->attachEvent(event, handler, &attached);
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

} // namespace Velmora::UI
